#include "auth/audit.h"

#include <QDateTime>
#include <QJsonValue>
#include <cstdlib>

namespace auth {

namespace {

QString value(const QJsonValue& v) {
    if (v.isBool()) return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return v.isString() ? v.toString() : v.toVariant().toString();
}

// A role as the store keeps it, in the language; a key this version does not know as it is.
QString roleWords(const QString& key, base::Lang lang) {
    const auto r = roleFromKey(key);
    return r ? roleText(*r, lang) : key;
}

// A key kept in the values, and the words it reads as.
struct Word {
    const char* key;
    const char* text;
};
constexpr Word kSettings[] = {
    {"password_expiry_days", QT_TRANSLATE_NOOP("velmars", "密码有效期（天）")},
    {"idle_lock_minutes", QT_TRANSLATE_NOOP("velmars", "空闲锁定（分钟）")},
    {"reasons", QT_TRANSLATE_NOOP("velmars", "修改原因列表")},
    {"reviewer_may_approve", QT_TRANSLATE_NOOP("velmars", "审核人可兼任批准人")},
};

struct Line {
    const char* code;
    const char* text;  // %1, %2... the values from `first` on (0: who did it)
    int first = 0;
};
constexpr Line kLines[] = {
    {"user.login", QT_TRANSLATE_NOOP("velmars", "%1 登录")},
    {"user.login.must_change", QT_TRANSLATE_NOOP("velmars", "%1 登录（须修改密码）")},
    {"user.logout", QT_TRANSLATE_NOOP("velmars", "%1 注销")},
    {"user.signature.checked", QT_TRANSLATE_NOOP("velmars", "%1 签名前核对密码")},
    {"user.session.locked", QT_TRANSLATE_NOOP("velmars", "%1 的会话因空闲已锁定")},
    {"user.session.unlocked", QT_TRANSLATE_NOOP("velmars", "%1 解锁会话")},
    {"user.session.ended", QT_TRANSLATE_NOOP("velmars", "%1 的会话已结束：账户已停用、锁定或删除")},
    {"user.password.changed", QT_TRANSLATE_NOOP("velmars", "%1 修改了自己的密码")},
    {"user.account.locked", QT_TRANSLATE_NOOP("velmars", "账户 %1 连续登录失败，已锁定"), 1},
    {"user.account.disabled", QT_TRANSLATE_NOOP("velmars", "%1 停用账户 %2")},
    {"user.account.enabled", QT_TRANSLATE_NOOP("velmars", "%1 启用账户 %2")},
    {"user.account.reset", QT_TRANSLATE_NOOP("velmars", "%1 重置账户 %2 的密码")},
    {"user.account.unlocked", QT_TRANSLATE_NOOP("velmars", "%1 解锁账户 %2")},
    {"user.account.lock_expired",
     QT_TRANSLATE_NOOP("velmars", "最后一个管理员账户 %1 的锁定已到期，自动解除"), 1},
    {"audit.chamber.added", QT_TRANSLATE_NOOP("velmars", "%1 添加试验箱 %2（%3）")},
    {"audit.chamber.changed", QT_TRANSLATE_NOOP("velmars", "%1 修改试验箱 %2：%3 → %4")},
    {"audit.chamber.removed", QT_TRANSLATE_NOOP("velmars", "%1 删除试验箱 %2（%3），数据库保留")},
    {"audit.turnaround", QT_TRANSLATE_NOOP("velmars", "%1 修改端口 %2 的帧间隔：%3 → %4 毫秒")},
    {"audit.setting", QT_TRANSLATE_NOOP("velmars", "%1 从命令行修改设置 %2：%3 → %4")},
    {"audit.started", QT_TRANSLATE_NOOP("velmars", "程序启动")},
    {"audit.ended", QT_TRANSLATE_NOOP("velmars", "程序退出")},
};

// The pattern with %1..%9 replaced by the values in one pass (a value holding "%2" stays as it
// is); a missing value is empty.
QString fillIn(const QString& pattern, const QStringList& values) {
    QString out;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'%' && i + 1 < pattern.size() && pattern[i + 1] >= u'1' &&
            pattern[i + 1] <= u'9') {
            out += values.value(pattern[i + 1].unicode() - u'1');
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

constexpr Word kExports[] = {
    {"csv", QT_TRANSLATE_NOOP("velmars", "记录 CSV")},
    {"events", QT_TRANSLATE_NOOP("velmars", "事件记录 CSV")},
    {"pdf", QT_TRANSLATE_NOOP("velmars", "曲线 PDF")},
    {"png", QT_TRANSLATE_NOOP("velmars", "曲线 PNG")},
    {"report", QT_TRANSLATE_NOOP("velmars", "试验报告")},
    {"review", QT_TRANSLATE_NOOP("velmars", "审计审阅")},
};

}  // namespace

QString auditCode(const AccessEvent& e) {
    return QStringLiteral("user.") + e.code;
}

QStringList auditArgs(const AccessEvent& e) {
    QStringList out{e.user};
    for (const QJsonValue& v : e.args)
        out << value(v);
    return out;
}

bool isFailedLogin(const AccessEvent& e, QString* account) {
    if (e.code != QLatin1String("login.failed")) return false;
    if (account) *account = e.args.isEmpty() ? QString() : value(e.args.first());
    return true;
}

std::optional<QString> auditText(const QString& code, const QStringList& a, base::Lang lang) {
    using base::wording;
    const auto at = [&](qsizetype i) { return i < a.size() ? a[i] : QString(); };
    if (!code.startsWith(QLatin1String("user.")) && !code.startsWith(QLatin1String("audit.")))
        return std::nullopt;
    for (const Line& l : kLines)
        if (code == QLatin1String(l.code)) return fillIn(wording(l.text, lang), a.mid(l.first));
    if (code == QLatin1String("user.login.failed"))
        return at(1).isEmpty()
                   ? wording(QT_TRANSLATE_NOOP("velmars", "登录失败：未知用户"), lang)
                   : wording(QT_TRANSLATE_NOOP("velmars", "登录失败：%1"), lang).arg(at(1));
    if (code == QLatin1String("user.account.created"))
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 创建账户 %2（%3，%4）"), lang)
            .arg(at(0), at(1), at(2), roleWords(at(3), lang));
    if (code == QLatin1String("user.account.changed"))
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 修改账户 %2：%3 → %4，%5 → %6"), lang)
            .arg(at(0), at(1), at(2), at(3), roleWords(at(4), lang), roleWords(at(5), lang));
    if (code == QLatin1String("user.access.switched"))
        return (at(1) == u"1" ? wording(QT_TRANSLATE_NOOP("velmars", "%1 开启访问控制"), lang)
                              : wording(QT_TRANSLATE_NOOP("velmars", "%1 关闭访问控制"), lang))
            .arg(at(0));
    if (code == QLatin1String("user.setting.changed")) {
        QString name = at(1);
        for (const Word& s : kSettings)
            if (name == QLatin1String(s.key)) name = wording(s.text, lang);
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 修改设置 %2：%3 → %4"), lang)
            .arg(at(0), name, at(2), at(3));
    }
    // Exports and reports from the command line name no user.
    const QString who =
        at(0).isEmpty() ? wording(QT_TRANSLATE_NOOP("velmars", "命令行"), lang) : at(0);
    if (code == QLatin1String(kExported) || code == QLatin1String(kExportRefused)) {
        QString what = at(1);
        for (const Word& x : kExports)
            if (what == QLatin1String(x.key)) what = wording(x.text, lang);
        if (code == QLatin1String(kExported))
            return wording(QT_TRANSLATE_NOOP("velmars", "%1 导出 %2：%3"), lang)
                .arg(who, what, at(2));
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 导出 %2 被拒绝：%3（%4）"), lang)
            .arg(who, what, at(2), at(3));
    }

    if (code == QLatin1String(kClockJumped)) {
        const auto time = [&](qsizetype i) {
            return QDateTime::fromMSecsSinceEpoch(at(i).toLongLong())
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        };
        return wording(QT_TRANSLATE_NOOP("velmars", "系统时钟跳变 %1 秒：%2 → %3"), lang)
            .arg(at(2), time(0), time(1));
    }
    return std::nullopt;
}

std::optional<qint64> ClockWatch::feed(qint64 wallMs, qint64 monoMs) {
    std::optional<qint64> jump;
    if (wall_) {
        const qint64 drift = (wallMs - *wall_) - (monoMs - mono_);
        if (std::llabs(drift) > kJumpMs) jump = drift;
    }
    wall_ = wallMs;
    mono_ = monoMs;
    return jump;
}

}  // namespace auth
