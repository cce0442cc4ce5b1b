#include "shell/portsettings.h"

#include "base/numberrule.h"
#include "base/tr.h"

namespace shell {

namespace {
int32_t leadingInt(const QString& text) {
    return base::roundToInt32(base::leadingNumber(text)).value_or(0);
}
}  // namespace

void copyPortSettings(comm::PortSettings& settings, const QString& portText, int baudIndex,
                      int parityIndex, const QString& addressText) {
    settings.port = leadingInt(portText);
    if (baudIndex >= 0 && baudIndex <= 2) settings.baud = baudIndex;
    if (parityIndex >= 0 && parityIndex <= 2) settings.parity = parityIndex;
    settings.address = leadingInt(addressText);
}

QString lineSettingsText(const comm::PortSettings& settings) {
    static constexpr int kBauds[] = {4800, 9600, 19200};
    static const char* const kParities[] = {QT_TRANSLATE_NOOP("velmars", "无校验"),
                                            QT_TRANSLATE_NOOP("velmars", "奇校验"),
                                            QT_TRANSLATE_NOOP("velmars", "偶校验")};
    if (settings.baud < 0 || settings.baud > 2 || settings.parity < 0 || settings.parity > 2)
        return {};
    return QStringLiteral("  %1 %2")
        .arg(kBauds[settings.baud])
        .arg(base::wording(kParities[settings.parity], base::Lang::Shown));
}

QString linkStatusText(const comm::LinkStats& stats, bool polling, int32_t port, double cycleMs,
                       int silentMs) {
    QString s;
    if (!polling) {
        s = base::Tr::tr("端口关闭");
    } else if (stats.deviceLost) {
        s = base::Tr::tr("端口 %1 设备已断开，等待重新连接（%2）").arg(port).arg(stats.device);
    } else if (stats.portOpen) {
        s = base::Tr::tr("端口 %1 已打开（%2）").arg(port).arg(stats.device);
    } else if (!stats.openError.isEmpty()) {
        s = stats.openError.text(base::Lang::Shown);  // which port, which device, why
    } else {
        s = base::Tr::tr("端口 %1 未能打开").arg(port);
    }
    // Figures of exchanges only mean something on a port that is (or was) open.
    if (!polling || stats.portOpen || stats.deviceLost || stats.exchanges > 0)
        s += base::Tr::tr("  通讯 %1 次，失败 %2 次").arg(stats.exchanges).arg(stats.failures);
    if (polling && stats.portOpen && silentMs >= kStaleAfterMs)
        s += base::Tr::tr("  仪表无应答 %1 秒").arg(silentMs / 1000);
    else if (polling && cycleMs > 0)
        s += base::Tr::tr("  周期 %1 ms").arg(qRound(cycleMs));
    if (!stats.lastError.isEmpty())
        s += (stats.lastOk ? base::Tr::tr("  上次错误：") : base::Tr::tr("  错误：")) +
             stats.lastError.text(base::Lang::Shown);
    return s;
}

}  // namespace shell
