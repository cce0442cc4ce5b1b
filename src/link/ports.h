#pragma once
// Which device a port number 1..20 names: an explicit mapping from the command line first, then on
// Windows COMn, elsewhere the n-th serial port the system lists, sorted by device name.

#include <QMap>
#include <QString>
#include <QStringList>

namespace comm {

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
