#include "forward/status.h"

#include <QtGlobal>

namespace forward {

QString statusText(const Status& s, base::Lang lang) {
    using base::wording;
    switch (s.state) {
        case State::Healthy:
            return wording(QT_TRANSLATE_NOOP("velmars", "转发: 正常"), lang);
        case State::Waiting:
            return wording(QT_TRANSLATE_NOOP("velmars", "转发: 等待服务器 (%1 条待发)"), lang)
                .arg(s.pending);
        case State::Failed:
            break;
    }
    QString reason = wording(s.reason, lang);
    if (!s.code.isEmpty()) reason = reason.arg(s.code);
    return wording(QT_TRANSLATE_NOOP("velmars", "转发: 错误: %1"), lang).arg(reason);
}

QString skippedText(int64_t samples, int64_t events, base::Lang lang) {
    if (samples <= 0 && events <= 0) return {};
    if (events <= 0)
        return base::wording(
                   QT_TRANSLATE_NOOP("velmars", "转发跳过 %1 条记录 (服务器恢复前已被覆盖)"), lang)
            .arg(samples);
    return base::wording(
               QT_TRANSLATE_NOOP("velmars", "转发跳过 %1 条记录、%2 条事件 (服务器恢复前已被覆盖)"),
               lang)
        .arg(samples)
        .arg(events);
}

std::optional<QString> eventText(const QString& code, const QStringList& args, base::Lang lang) {
    if (code != kSkippedCode) return std::nullopt;
    return skippedText(args.value(0).toLongLong(), args.value(1).toLongLong(), lang);
}

std::optional<Reason> errorReason(const QString& message, const QString& sqlState) {
    const QString m = message.toLower();
    const QString cls = sqlState.left(2);
    if (m.contains(QStringLiteral("password authentication failed")) ||
        m.contains(QStringLiteral("authentication failed")) || cls == u"28")
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "用户名或密码错误"))};
    if (m.contains(QStringLiteral("no password supplied")) ||
        m.contains(QStringLiteral("password is required")))
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "缺少密码"))};
    if (m.contains(QStringLiteral("pg_hba.conf")))
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器不接受本机的连接"))};
    if (sqlState == u"3D000" ||
        (m.contains(QStringLiteral("database")) && m.contains(QStringLiteral("does not exist"))))
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库不存在"))};
    if (m.contains(QStringLiteral("role")) && m.contains(QStringLiteral("does not exist")))
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "用户不存在"))};
    if (sqlState == u"42501" || m.contains(QStringLiteral("permission denied")))
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "没有写入服务器表的权限"))};
    if (m.contains(QStringLiteral("invalid connection option")) ||
        m.contains(QStringLiteral("invalid sslmode")) ||
        m.contains(QStringLiteral("invalid value")))
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "连接参数无效"))};
    // Connection trouble (08), the server going down or starting up (57), lack of resources (53),
    // a transaction rolled back (40): the server is waited for.
    if (sqlState.isEmpty() || cls == u"08" || cls == u"57" || cls == u"53" || cls == u"40")
        return std::nullopt;
    if (cls == u"42")
        return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器上的表结构不符 (%1)")),
                      sqlState};
    return Reason{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器拒绝写入 (%1)")), sqlState};
}

int retryDelayMs(int failures) {
    return static_cast<int>(kRetry.delayMs(failures));
}

}  // namespace forward
