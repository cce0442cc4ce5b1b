#pragma once
// Which device a port number 1..20 names: an explicit mapping from the command line first, then on
// Windows COMn, elsewhere the n-th serial port the system lists, sorted by device name. An explicit
// device may also be a gateway on the network (see NetworkDevice).

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

#include "base/tr.h"

namespace comm {

// A port number that names a gateway instead of a serial device: "tcp://HOST:PORT" speaks Modbus
// TCP (the unit id is the slave address), "rtu+tcp://HOST:PORT" carries RTU frames, CRC and all,
// through a TCP socket, as a serial device server in transparent mode passes them on.
struct NetworkDevice {
    enum class Kind { ModbusTcp, RtuOverTcp };
    Kind kind = Kind::ModbusTcp;
    QString host;  // a name or an address; IPv6 addresses without their brackets
    int port = 0;  // 1..65535
};

// The gateway a device names, or nothing for a serial device or a malformed URL.
std::optional<NetworkDevice> parseNetworkDevice(const QString& device);
// Whether a device is written as a gateway URL, well formed or not.
bool looksLikeNetworkDevice(const QString& device);
// What the window shows for a device: a serial device as it is, a gateway as its host and port,
// in the language.
QString deviceCaption(const QString& device, base::Lang lang = base::Lang::Stored);

class PortMap {
  public:
    void setExplicit(int number, const QString& device) { explicit_[number] = device; }
    bool hasExplicit(int number) const { return explicit_.contains(number); }
    // The device for a number, or an empty string when the number names none.
    QString deviceFor(int number) const;
    // The same with a system port list given (sorted here), for tests.
    QString deviceFor(int number, QStringList systemPorts) const;
    // Device paths of the serial ports the system lists now.
    static QStringList systemPorts();

  private:
    QMap<int, QString> explicit_;
};

}  // namespace comm
