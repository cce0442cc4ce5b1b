#include "base/tr.h"

#include <QMutex>
#include <QRegularExpression>

#include "base/baseos.h"

namespace base {

namespace {

QString translated(const QString& source) {
    const QByteArray utf8 = source.toUtf8();
    return Tr::tr(utf8.constData());
}

// The text with its %1... replaced by the parts (up to four), all at once, so that a part holding
// "%1" is not filled in again.
QString filledIn(const QString& text, const QStringList& parts) {
    switch (parts.size()) {
        case 0:
            return text;
        case 1:
            return text.arg(parts[0]);
        case 2:
            return text.arg(parts[0], parts[1]);
        case 3:
            return text.arg(parts[0], parts[1], parts[2]);
        default:
            return text.arg(parts[0], parts[1], parts[2], parts[3]);
    }
}

// Before any pattern is compiled (every program and test that shows a text links this file).
[[maybe_unused]] const bool regexStateKeptOffThreads = (keepRegexStateOffThreads(), true);

// The pattern as an anchored expression: each %N takes the shortest run that lets the rest match.
// One cache for every thread, behind a lock; each caller matches with its own copy (the compiled
// pattern is shared and matched safely from several threads at once). A cache per thread would
// be destroyed as each thread ends, and the MinGW runtime runs such destructors after it has
// freed the thread's storage: the heap was then corrupted on Windows whenever a thread that had
// shown a stored text (the web server's, the pool's) ended.
QRegularExpression expression(const char* pattern) {
    static QMutex lock;
    static QHash<const char*, QRegularExpression> cache;
    QMutexLocker hold(&lock);
    auto it = cache.find(pattern);
    if (it == cache.end()) {
        const QString p = QString::fromUtf8(pattern);
        static const QRegularExpression marker(QStringLiteral("%[1-9]"));
        QString rx = QStringLiteral("^");
        qsizetype at = 0;
        for (auto m = marker.globalMatch(p); m.hasNext();) {
            const auto hit = m.next();
            rx += QRegularExpression::escape(p.mid(at, hit.capturedStart() - at));
            rx += QStringLiteral("(.*?)");
            at = hit.capturedEnd();
        }
        rx += QRegularExpression::escape(p.mid(at)) + u'$';
        it = cache.insert(pattern,
                          QRegularExpression(rx, QRegularExpression::DotMatchesEverythingOption));
    }
    return *it;
}

// clang-format off
const char* const kBuiltPatterns[] = {
    // The event log's rows.
    QT_TRANSLATE_NOOP("velmars", "%1 → %2（失败：%3）"),
    QT_TRANSLATE_NOOP("velmars", "%1 → %2（未发送：%3）"),
    QT_TRANSLATE_NOOP("velmars", "需要%1权限"),
    QT_TRANSLATE_NOOP("velmars", "端口已打开：%1"),
    QT_TRANSLATE_NOOP("velmars", "端口已关闭：%1"),
    QT_TRANSLATE_NOOP("velmars", "端口无法打开：%1"),
    QT_TRANSLATE_NOOP("velmars", "设备已断开：%1"),
    QT_TRANSLATE_NOOP("velmars", "设备已恢复：%1"),
    QT_TRANSLATE_NOOP("velmars", "端口已打开"),
    QT_TRANSLATE_NOOP("velmars", "端口已关闭"),
    QT_TRANSLATE_NOOP("velmars", "端口无法打开"),
    QT_TRANSLATE_NOOP("velmars", "设备已断开"),
    QT_TRANSLATE_NOOP("velmars", "设备已恢复"),
    QT_TRANSLATE_NOOP("velmars", "触发：%1，%2"),
    QT_TRANSLATE_NOOP("velmars", "恢复正常：%1"),
    QT_TRANSLATE_NOOP("velmars", "升级通知：%1"),
    QT_TRANSLATE_NOOP("velmars", "再次通知：%1"),
    QT_TRANSLATE_NOOP("velmars", "已确认：%1，说明：%2"),
    QT_TRANSLATE_NOOP("velmars", "已发送 %1"),
    QT_TRANSLATE_NOOP("velmars", "发送失败（第 %1 次，%2 秒后重试）%3：%4"),
    QT_TRANSLATE_NOOP("velmars", "邮件失败：%1"),
    QT_TRANSLATE_NOOP("velmars", "Webhook 失败：%1"),
    QT_TRANSLATE_NOOP("velmars", "存档：已删除 %1 及以前的样本（%2 条）和事件（%3）"),
    QT_TRANSLATE_NOOP("velmars", "试验开始：%1"),
    QT_TRANSLATE_NOOP("velmars", "试验结束：%1"),
    // The recorder's rows and their reasons (a refusal with no values kept beside it).
    QT_TRANSLATE_NOOP("velmars", "记录已停止：%1，每秒重试"),
    QT_TRANSLATE_NOOP("velmars", "未记录：%1"),
    QT_TRANSLATE_NOOP("velmars", "磁盘长时间不可写：内存中超出上限的最早 %1 个样本已丢弃"),
    QT_TRANSLATE_NOOP("velmars", "数据库 %1 正由另一个程序记录（进程 %2%3）"),
    QT_TRANSLATE_NOOP("velmars", "，主机 %1"),
    QT_TRANSLATE_NOOP("velmars", "保留 %1 天"),
    QT_TRANSLATE_NOOP("velmars", "磁盘可用空间不足 %1 GB"),
    QT_TRANSLATE_NOOP("velmars", "转发跳过 %1 条记录、%2 条事件 (服务器恢复前已被覆盖)"),
    QT_TRANSLATE_NOOP("velmars", "转发跳过 %1 条记录 (服务器恢复前已被覆盖)"),
    // Errors of the line in older rows.
    QT_TRANSLATE_NOOP("velmars", "端口 %1（%2）无法打开：%3"),
    QT_TRANSLATE_NOOP("velmars", "端口 %1 无法打开：无对应设备"),
    QT_TRANSLATE_NOOP("velmars", "端口 %1 无法打开"),
    QT_TRANSLATE_NOOP("velmars", "端口 %1"),
    QT_TRANSLATE_NOOP("velmars", "模块地址 %1 无效"),
    QT_TRANSLATE_NOOP("velmars", "异常应答，代码 %1"),
    QT_TRANSLATE_NOOP("velmars", "连接已断开（%1）"),
    QT_TRANSLATE_NOOP("velmars", "设备已断开（%1）"),
    // The alerts' values, as alert.fired rows of older versions hold them.
    QT_TRANSLATE_NOOP("velmars", "PV%1 %2（范围 %3 … %4）"),
    QT_TRANSLATE_NOOP("velmars", "%1 秒无应答"),
    QT_TRANSLATE_NOOP("velmars", "滞后 %1 分钟"),
    // Joints last: what they hold is matched again.
    QT_TRANSLATE_NOOP("velmars", "%1 → %2：%3"),
    QT_TRANSLATE_NOOP("velmars", "%1 → %2"),
    QT_TRANSLATE_NOOP("velmars", "%1；%2"),
    QT_TRANSLATE_NOOP("velmars", "%1（%2）"),
};
// clang-format on

}  // namespace

QString wording(const char* source, Lang lang) {
    return lang == Lang::Stored ? QString::fromUtf8(source) : Tr::tr(source);
}

QString wording(const QString& stored, Lang lang) {
    return lang == Lang::Stored ? stored : shown(stored);
}

QString Phrase::text(Lang lang) const {
    if (words.isEmpty()) return {};
    QStringList all = values;
    for (const Phrase& part : parts)
        all << part.text(lang);
    return filledIn(lang == Lang::Stored ? words : translated(words), all);
}

std::span<const char* const> builtPatterns() {
    return kBuiltPatterns;
}

QString shown(const QString& text) {
    return shown(text, kBuiltPatterns);
}

QString shown(const QString& text, std::span<const char* const> patterns) {
    if (text.isEmpty()) return text;
    QString t = translated(text);
    if (t != text) return t;
    // Stored texts lose their trailing blank; the source keeps it.
    t = translated(text + u' ');
    if (t != text + u' ') return t.trimmed();
    for (const char* pattern : patterns) {
        const QRegularExpressionMatch m = expression(pattern).match(text);
        if (!m.hasMatch()) continue;
        QStringList parts;
        for (int i = 1; i <= m.lastCapturedIndex(); ++i)
            parts << shown(m.captured(i), patterns);
        return filledIn(Tr::tr(pattern), parts);
    }
    // A caption put together from words ("SEG3 设定值TIME", "输入1 输入上限"): word by word.
    if (text.contains(u' ')) {
        QStringList words = text.split(u' ');
        for (QString& w : words)
            w = shown(w, {});
        return words.join(u' ');
    }
    return text;
}

}  // namespace base
