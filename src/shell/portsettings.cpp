#include "shell/portsettings.h"

#include "base/numberrule.h"

namespace shell {

namespace {
int32_t leadingInt(const QString& text) {
    return base::roundToInt32(base::leadingNumber(text)).value_or(0);
}
}  // namespace

void copyPortSettings(comm::CommParamsArray& cp, const QString& portText, int baudIndex,
                      int parityIndex, const QString& addressText) {
    cp(comm::kPortSlot) = leadingInt(portText);
    if (baudIndex >= 0 && baudIndex <= 2) cp(comm::kBaudSlot) = baudIndex;
    if (parityIndex >= 0 && parityIndex <= 2) cp(comm::kParitySlot) = parityIndex;
    cp(comm::kAddressSlot) = leadingInt(addressText);
}

QString linkStatusText(const comm::LinkStats& stats, bool polling, int32_t port, double cycleMs) {
    QString s;
    if (!polling) {
        s = QStringLiteral("端口关闭");
    } else if (stats.portOpen) {
        s = QStringLiteral("端口 %1 已打开（%2）").arg(port).arg(stats.device);
    } else {
        s = QStringLiteral("端口 %1 未能打开").arg(port);
    }
    s += QStringLiteral("  通讯 %1 次，失败 %2 次").arg(stats.exchanges).arg(stats.failures);
    if (polling && cycleMs > 0) s += QStringLiteral("  周期 %1 ms").arg(qRound(cycleMs));
    if (!stats.lastError.isEmpty())
        s += (stats.lastOk ? QStringLiteral("  上次错误：") : QStringLiteral("  错误：")) +
             stats.lastError;
    return s;
}

}  // namespace shell
