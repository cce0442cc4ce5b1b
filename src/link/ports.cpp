#include "link/ports.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace comm {

QString PortMap::deviceFor(int number) const {
    if (explicit_.contains(number)) return explicit_.value(number);
#ifdef Q_OS_WIN
    return number >= 1 ? QStringLiteral("\\\\.\\COM%1").arg(number) : QString();
#else
    return deviceFor(number, systemPorts());
#endif
}

QString PortMap::deviceFor(int number, QStringList systemPorts) const {
    if (explicit_.contains(number)) return explicit_.value(number);
    std::sort(systemPorts.begin(), systemPorts.end());
    if (number < 1 || number > systemPorts.size()) return {};
    return systemPorts.at(number - 1);
}

QStringList PortMap::systemPorts() {
    QStringList out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        out << info.systemLocation();
    return out;
}

}  // namespace comm
