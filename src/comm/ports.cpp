#include "comm/ports.h"

#include <QUrl>
#include <algorithm>

#include "comm/lineos.h"

namespace comm {

bool looksLikeNetworkDevice(const QString& device) {
    return device.startsWith(u"tcp://") || device.startsWith(u"rtu+tcp://");
}

std::optional<NetworkDevice> parseNetworkDevice(const QString& device) {
    if (!looksLikeNetworkDevice(device)) return std::nullopt;
    const QUrl url(device, QUrl::StrictMode);
    // Host and port only: a path, a query or a user name would be silently ignored otherwise.
    if (!url.isValid() || url.host().isEmpty() || url.port() < 1 || !url.path().isEmpty() ||
        url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    const auto kind =
        url.scheme() == u"tcp" ? NetworkDevice::Kind::ModbusTcp : NetworkDevice::Kind::RtuOverTcp;
    return NetworkDevice{kind, url.host(), url.port()};
}

QString deviceCaption(const QString& device, base::Lang lang) {
    const auto net = parseNetworkDevice(device);
    if (!net) return device;
    const QString host = net->host.contains(u':') ? u'[' + net->host + u']' : net->host;
    const QString kind = net->kind == NetworkDevice::Kind::ModbusTcp
                             ? QStringLiteral("Modbus TCP")
                             : base::wording(QT_TRANSLATE_NOOP("velmars", "RTU 透传"), lang);
    return base::wording(QT_TRANSLATE_NOOP("velmars", "网关 %1:%2（%3，波特率与校验位不适用）"),
                         lang)
        .arg(host, QString::number(net->port), kind);
}

QString PortMap::deviceFor(int number) const {
    if (explicit_.contains(number)) return explicit_.value(number);
    if (auto device = os::numberedPort(number)) return *device;
    return deviceFor(number, systemPorts());
}

QString PortMap::deviceFor(int number, QStringList systemPorts) const {
    if (explicit_.contains(number)) return explicit_.value(number);
    std::sort(systemPorts.begin(), systemPorts.end());
    if (number < 1 || number > systemPorts.size()) return {};
    return systemPorts.at(number - 1);
}

QStringList PortMap::systemPorts() {
    return os::serialPorts();
}

}  // namespace comm
