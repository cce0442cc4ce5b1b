#include "chamber/chamberlist.h"

#include <QRegularExpression>

#include "base/tr.h"

namespace chamber {

namespace {

const QString kGroup = QStringLiteral("chambers");
const QString kTurnaroundGroup = QStringLiteral("turnaround");
const QString kOpenLinesKey = QStringLiteral("lines/open");

bool validName(const QString& name) {
    // The name becomes part of file names.
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_-]{1,40}$"));
    return re.match(name).hasMatch();
}

int baudIndex(int baud) {
    return baud == 4800 ? 0 : baud == 9600 ? 1 : baud == 19200 ? 2 : -1;
}

int parityIndex(QChar parity) {
    return parity == u'N' ? 0 : parity == u'O' ? 1 : parity == u'E' ? 2 : -1;
}

}  // namespace

comm::PortSettings ChamberConf::portSettings() const {
    return {port, baudIndex(baud), parityIndex(parity), address};
}

void ChamberConf::setPortSettings(const comm::PortSettings& s) {
    static constexpr int kBauds[] = {4800, 9600, 19200};
    static constexpr char kParities[] = "NOE";
    port = s.port;
    address = s.address;
    baud = s.baud >= 0 && s.baud < 3 ? kBauds[s.baud] : 0;
    parity = QChar::fromLatin1(s.parity >= 0 && s.parity < 3 ? kParities[s.parity] : '?');
}

std::optional<Refusal> checkChambers(const QList<ChamberConf>& chambers) {
    using K = Refusal::Kind;
    for (qsizetype i = 0; i < chambers.size(); ++i) {
        const ChamberConf& c = chambers[i];
        if (!validName(c.name)) return Refusal{K::BadName, c.name};
        if (c.port < 1 || c.port > 20) return Refusal{K::BadPort, c.name, c.port};
        if (c.address < 1 || c.address > kMaxAddress)
            return Refusal{K::BadAddress, c.name, c.port, c.address};
        if (baudIndex(c.baud) < 0) return Refusal{K::BadBaud, c.name, c.port};
        if (parityIndex(c.parity) < 0) return Refusal{K::BadParity, c.name, c.port};
        for (qsizetype j = 0; j < i; ++j) {
            const ChamberConf& o = chambers[j];
            // Names become file names, and some file systems ignore case.
            if (o.name.compare(c.name, Qt::CaseInsensitive) == 0)
                return Refusal{K::DuplicateName, c.name};
            if (o.port != c.port) continue;
            if (o.address == c.address)
                return Refusal{K::DuplicateAddress, c.name, c.port, c.address};
            if (o.baud != c.baud || o.parity != c.parity)
                return Refusal{K::LineMismatch, c.name, c.port};
        }
    }
    return std::nullopt;
}

QList<ChamberConf> withLineSettings(QList<ChamberConf> chambers, qsizetype i) {
    if (i < 0 || i >= chambers.size()) return chambers;
    const ChamberConf line = chambers[i];
    for (ChamberConf& c : chambers) {
        if (c.port != line.port) continue;
        c.baud = line.baud;
        c.parity = line.parity;
    }
    return chambers;
}

QString refusalLine(const Refusal& r) {
    using K = Refusal::Kind;
    switch (r.kind) {
        case K::BadName:
            return QStringLiteral("chamber name '%1' is not 1 to 40 letters, digits, '-' and '_'")
                .arg(r.name.left(60));
        case K::DuplicateName:
            return QStringLiteral("chamber name '%1' is given twice").arg(r.name);
        case K::BadPort:
            return QStringLiteral("chamber '%1': port %2 is not from 1 to 20")
                .arg(r.name)
                .arg(r.port);
        case K::BadAddress:
            return QStringLiteral("chamber '%1': address %2 is not from 1 to 247")
                .arg(r.name)
                .arg(r.address);
        case K::BadBaud:
            return QStringLiteral("chamber '%1': baud rate is not 4800, 9600 or 19200").arg(r.name);
        case K::BadParity:
            return QStringLiteral("chamber '%1': parity is not N, O or E").arg(r.name);
        case K::DuplicateAddress:
            return QStringLiteral("chamber '%1': address %2 on port %3 is taken by another chamber")
                .arg(r.name)
                .arg(r.address)
                .arg(r.port);
        case K::LineMismatch:
            return QStringLiteral(
                       "chamber '%1': port %2 has another baud rate or parity for another chamber")
                .arg(r.name)
                .arg(r.port);
        case K::NotAllowed:
            return QStringLiteral("chamber '%1': the one who asked may not change the chamber list")
                .arg(r.name);
    }
    return {};
}

QString refusalText(const Refusal& r) {
    using K = Refusal::Kind;
    switch (r.kind) {
        case K::BadName:
            return base::Tr::tr("名称只能由字母、数字、“-”和“_”组成（最多 40 个）");
        case K::DuplicateName:
            return base::Tr::tr("名称 %1 已被其他试验箱使用").arg(r.name);
        case K::BadPort:
            return base::Tr::tr("端口号应为 1 到 20");
        case K::BadAddress:
            return base::Tr::tr("模块地址应为 1 到 247");
        case K::BadBaud:
            return base::Tr::tr("波特率应为 4800、9600 或 19200");
        case K::BadParity:
            return base::Tr::tr("校验位应为 N、O 或 E");
        case K::DuplicateAddress:
            return base::Tr::tr("端口 %1 上的地址 %2 已被其他试验箱使用")
                .arg(r.port)
                .arg(r.address);
        case K::LineMismatch:
            return base::Tr::tr("端口 %1 上的试验箱须使用相同的波特率和校验位").arg(r.port);
        case K::NotAllowed:
            return auth::denialText(r.denial, auth::Action::ConfigurationWrite);
    }
    return {};
}

std::optional<ChamberConf> parseChamberArg(const QString& text) {
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0) return std::nullopt;
    const QStringList parts = text.mid(eq + 1).split(u',');
    if (parts.size() < 2 || parts.size() > 4) return std::nullopt;
    ChamberConf c;
    c.name = text.left(eq);
    bool okPort = false, okAddress = false, okBaud = true;
    c.port = parts[0].toInt(&okPort);
    c.address = parts[1].toInt(&okAddress);
    if (parts.size() > 2) c.baud = parts[2].toInt(&okBaud);
    if (parts.size() > 3) {
        if (parts[3].size() != 1) return std::nullopt;
        c.parity = parts[3].at(0).toUpper();
    }
    if (!okPort || !okAddress || !okBaud) return std::nullopt;
    return c;
}

QList<ChamberConf> readChambers(QSettings& settings) {
    QList<ChamberConf> out;
    const int n = settings.beginReadArray(kGroup);
    for (int i = 0; i < n; ++i) {
        settings.setArrayIndex(i);
        ChamberConf c;
        c.name = settings.value(QStringLiteral("name")).toString();
        c.port = settings.value(QStringLiteral("port")).toInt();
        c.address = settings.value(QStringLiteral("address")).toInt();
        c.baud = settings.value(QStringLiteral("baud"), 9600).toInt();
        const QString parity =
            settings.value(QStringLiteral("parity"), QStringLiteral("N")).toString();
        c.parity = parity.size() == 1 ? parity.at(0) : QChar(u'?');
        // An entry that would spoil the list (edited by hand) is left out; the rest are served.
        QList<ChamberConf> with = out;
        with << c;
        if (!checkChambers(with)) out = with;
    }
    settings.endArray();
    return out;
}

void writeChambers(QSettings& settings, const QList<ChamberConf>& chambers) {
    settings.remove(kGroup);
    settings.beginWriteArray(kGroup, static_cast<int>(chambers.size()));
    for (int i = 0; i < chambers.size(); ++i) {
        const ChamberConf& c = chambers[i];
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("name"), c.name);
        settings.setValue(QStringLiteral("port"), c.port);
        settings.setValue(QStringLiteral("address"), c.address);
        settings.setValue(QStringLiteral("baud"), c.baud);
        settings.setValue(QStringLiteral("parity"), QString(c.parity));
    }
    settings.endArray();
    settings.sync();
}

QMap<int, int> readTurnarounds(QSettings& settings) {
    QMap<int, int> out;
    settings.beginGroup(kTurnaroundGroup);
    for (const QString& key : settings.childKeys()) {
        bool okPort = false, okMs = false;
        const int port = key.mid(4).toInt(&okPort);  // "portN"
        const int ms = settings.value(key).toInt(&okMs);
        if (key.startsWith(QStringLiteral("port")) && okPort && okMs && port >= 1 && port <= 20 &&
            ms >= 0 && ms <= 1000)
            out.insert(port, ms);
    }
    settings.endGroup();
    return out;
}

void writeTurnaround(QSettings& settings, int port, int ms) {
    const QString key = kTurnaroundGroup + QStringLiteral("/port%1").arg(port);
    if (ms > 0)
        settings.setValue(key, ms);
    else
        settings.remove(key);
    settings.sync();
}

QList<int> readOpenLines(QSettings& settings) {
    QList<int> out;
    const QStringList kept = settings.value(kOpenLinesKey).toStringList();
    for (const QString& text : kept) {
        bool ok = false;
        const int port = text.toInt(&ok);
        if (ok && port >= 1 && port <= 20 && !out.contains(port)) out << port;
    }
    return out;
}

void writeOpenLines(QSettings& settings, const QList<int>& ports) {
    QStringList kept;
    for (int port : ports)
        kept << QString::number(port);
    if (kept.isEmpty())
        settings.remove(kOpenLinesKey);
    else
        settings.setValue(kOpenLinesKey, kept);
    settings.sync();
}

ChamberConf proposedChamber(const QList<ChamberConf>& others, int port, int maxAddress) {
    ChamberConf c;
    c.port = port > 0 ? port : others.isEmpty() ? 1 : others.last().port;
    QList<int> taken;
    for (const ChamberConf& o : others) {
        if (o.port != c.port) continue;
        taken << o.address;
        c.baud = o.baud;
        c.parity = o.parity;
    }
    for (int a = 1; a <= maxAddress; ++a)
        if (!taken.contains(a)) {
            c.address = a;
            break;
        }
    return c;
}

}  // namespace chamber
