#include "link/libmodbusrtu.h"

#include <modbus.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>

#include "base/numberrule.h"

namespace comm {

namespace {

QString describeErrno(int e) {
    switch (e) {
        case ETIMEDOUT:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "仪表无应答（超时）"));
        case EMBBADCRC:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "CRC校验错误"));
        case EMBBADDATA:
        case EMBBADSLAVE:
        case EMBBADEXC:
        case EMBMDATA:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "应答格式错误"));
        default:
            break;
    }
    if (e > MODBUS_ENOBASE && e < MODBUS_ENOBASE + 16)
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "异常应答，代码 %1"))
            .arg(e - MODBUS_ENOBASE);
    return QString::fromLocal8Bit(modbus_strerror(e));
}

// Why connecting to a gateway or talking with it failed, in the operator's words where they have
// some.
QString describeNetworkErrno(int e) {
    switch (e) {
        case ECONNREFUSED:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "连接被拒绝"));
        case EINPROGRESS:  // libmodbus gave up waiting for the connection
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENETUNREACH:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "主机无应答"));
        case ECONNRESET:  // libmodbus's word for a read that met the end of the stream, too
        case EPIPE:
        case ENOTCONN:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "网关关闭了连接"));
        default:
            return QString::fromLocal8Bit(modbus_strerror(e));
    }
}

void setTimeout(_modbus* ctx, int ms) {
    modbus_set_response_timeout(ctx, static_cast<uint32_t>(ms / 1000),
                                static_cast<uint32_t>((ms % 1000) * 1000));
}

}  // namespace

int32_t writeWithRepeat(ModbusRTU& bus, int32_t port, int32_t addr, int32_t reg, int32_t value,
                        int* calls) {
    int n = 1;
    int32_t status = bus.Set_4X_D1(port, addr, reg, value);
    if (status == kModbusFail) {
        status = bus.Set_4X_D1(port, addr, reg, value);
        n = 2;
    }
    if (calls) *calls = n;
    return status;
}

LibModbusRTU::LibModbusRTU(PortMap ports) : ports_(std::move(ports)) {}

LibModbusRTU::~LibModbusRTU() {
    closeContext();
}

void LibModbusRTU::closeContext() {
    if (carrier_) {
        // The RTU context only borrowed the socket; its owner closes it.
        modbus_set_socket(ctx_, -1);
        modbus_free(ctx_);
        ctx_ = carrier_;
        carrier_ = nullptr;
    }
    if (!ctx_) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
}

bool LibModbusRTU::connectNetwork(const NetworkDevice& net) {
    // libmodbus looks the host up, connects without blocking and waits for the connection at most
    // its response timeout.
    const QByteArray host = net.host.toUtf8(), service = QByteArray::number(net.port);
    modbus_t* tcp = modbus_new_tcp_pi(host.constData(), service.constData());
    if (!tcp) return false;
    setTimeout(tcp, kConnectTimeoutMs);
    if (modbus_connect(tcp) == -1) {
        const int e = errno;
        modbus_free(tcp);
        errno = e;
        return false;
    }
    const int fd = modbus_get_socket(tcp);
    const unsigned int unacked = kUnacknowledgedMs;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked, sizeof unacked);
    if (net.kind == NetworkDevice::Kind::ModbusTcp) {
        ctx_ = tcp;
        return true;
    }
    // RTU over TCP: libmodbus's RTU backend frames, checks the CRC and reads and writes its file
    // descriptor with plain read() and write(), which serve a socket as well as a terminal. The
    // context is never connected (the path is not opened); it is handed the TCP context's socket.
    ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (!ctx_) {
        modbus_close(tcp);
        modbus_free(tcp);
        return false;
    }
    carrier_ = tcp;
    modbus_set_socket(ctx_, fd);
    // write() on a socket the gateway has reset raises SIGPIPE, which would end the program; with
    // the signal blocked on this thread it fails with EPIPE instead, like any lost connection.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    return true;
}

int32_t LibModbusRTU::OpenPort_Modbus(int32_t port, int32_t baudIndex, int32_t parityIndex) {
    // Opening again without a close replaces the previous connection.
    closeContext();
    stats_.portOpen = false;
    stats_.openError.clear();
    gone_ = false;
    const QString device = ports_.deviceFor(port);
    stats_.device = device;
    if (device.isEmpty()) {
        stats_.openError =
            QStringLiteral(QT_TRANSLATE_NOOP("velmars", "端口 %1 无法打开：无对应设备")).arg(port);
        lastFailure_ = stats_.openError;
        return kModbusFail;
    }
    static const int kBauds[] = {4800, 9600, 19200};
    static const char kParity[] = {'N', 'O', 'E'};
    const int baud = baudIndex >= 0 && baudIndex <= 2 ? kBauds[baudIndex] : 9600;
    const char parity = parityIndex >= 0 && parityIndex <= 2 ? kParity[parityIndex] : 'N';
    const auto net = parseNetworkDevice(device);
    network_ = net.has_value();
    bool connected = false;
    if (net) {
        connected = connectNetwork(*net);
    } else if (!looksLikeNetworkDevice(device)) {
        const QByteArray path = device.toLocal8Bit();
        ctx_ = modbus_new_rtu(path.constData(), baud, parity, 8, 1);
        connected = ctx_ && modbus_connect(ctx_) != -1;
    } else {
        errno = EINVAL;  // a gateway URL without a usable host or port
    }
    if (!connected) {
        const int e = errno;
        stats_.openError = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "端口 %1（%2）无法打开：%3"))
                               .arg(port)
                               .arg(device, network_ ? describeNetworkErrno(e)
                                                     : QString::fromLocal8Bit(modbus_strerror(e)));
        lastFailure_ = stats_.openError;
        if (ctx_) modbus_free(ctx_);
        ctx_ = nullptr;
        return kModbusFail;
    }
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_NONE);
    setTimeout(ctx_, timeoutMs_);
    modbus_set_byte_timeout(ctx_, 0, 50000);
    stats_.portOpen = true;
    return 0;
}

int32_t LibModbusRTU::ClosePort_Modbus(int32_t) {
    closeContext();
    stats_.portOpen = false;
    return 0;
}

int32_t LibModbusRTU::refusal(int32_t addr) {
    if (!ctx_) return refused(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "端口未打开")));
    // Broadcast (0) gets no answer to a read; 248..255 are reserved.
    if (addr < 1 || addr > 247 || modbus_set_slave(ctx_, addr) != 0)
        return refused(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "模块地址 %1 无效")).arg(addr));
    return 0;
}

int32_t LibModbusRTU::refused(const QString& why) {
    lastFailure_ = why;
    return kModbusFail;
}

int32_t LibModbusRTU::failed(int e) {
    ++stats_.failures;
    stats_.lastOk = false;
    if (deviceGoneAfter(e)) {
        gone_ = true;
        stats_.lastError = network_
                               ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "连接已断开（%1）"))
                                     .arg(describeNetworkErrno(e))
                               : QStringLiteral(QT_TRANSLATE_NOOP("velmars", "设备已断开（%1）"))
                                     .arg(QString::fromLocal8Bit(modbus_strerror(e)));
    } else {
        stats_.lastError = describeErrno(e);
        drainLine();
    }
    lastFailure_ = stats_.lastError;
    return kModbusFail;
}

bool LibModbusRTU::deviceGoneAfter(int e) const {
    if (network_) {
        // The gateway closed or reset the connection, or the kernel gave it up (unacknowledged
        // data): the socket has left the established state. A timeout on a live connection is a
        // silent instrument behind the gateway.
        const int fd = ctx_ ? modbus_get_socket(ctx_) : -1;
        tcp_info info{};
        socklen_t size = sizeof info;
        return fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
               info.tcpi_state != TCP_ESTABLISHED;
    }
    // What a serial device says once it is unplugged: the terminal is hung up, so writes and
    // control calls fail with EIO.
    if (e == EIO || e == ENXIO || e == EBADF || e == ENODEV) return true;
    if (!ctx_) return false;
    // Anything else (a timeout, a read that found end of file, which libmodbus reports as
    // ECONNRESET) means a silent or garbled instrument, unless the port itself no longer answers
    // a control call or its device node has vanished.
    const int fd = modbus_get_socket(ctx_);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return true;
    struct stat st {};
    return ::stat(stats_.device.toLocal8Bit().constData(), &st) != 0 && errno == ENOENT;
}

void LibModbusRTU::drainLine() {
    // An answer that comes after its timeout must not be taken for the answer to the next request
    // (RTU frames carry no transaction number, and two reads of the same size look alike): discard
    // whatever arrives until the line has been quiet for a while, within a bounded time.
    if (!ctx_) return;
    modbus_flush(ctx_);
    const int fd = modbus_get_socket(ctx_);
    if (fd < 0) return;
    QElapsedTimer spent;
    spent.start();
    char sink[256];
    while (spent.elapsed() < timeoutMs_) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kQuietMs);
        if (ready <= 0 || !(p.revents & POLLIN)) break;
        if (::read(fd, sink, sizeof sink) <= 0) break;
    }
}

int32_t LibModbusRTU::succeeded() {
    stats_.lastOk = true;
    stats_.lastError.clear();
    lastFailure_.clear();
    return 0;
}

int32_t LibModbusRTU::readRegisters(Area area, int32_t addr, int32_t start, int32_t qty,
                                    int32_t* buf) {
    if (!buf || qty < 1 || qty > MODBUS_MAX_READ_REGISTERS || start < 1 || start - 1 + qty > 65536)
        return refused(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "超出寄存器范围")));
    if (refusal(addr) != 0) return kModbusFail;
    ++stats_.exchanges;
    uint16_t regs[MODBUS_MAX_READ_REGISTERS];
    const int rc = area == Area::Input ? modbus_read_input_registers(ctx_, start - 1, qty, regs)
                                       : modbus_read_registers(ctx_, start - 1, qty, regs);
    if (rc != qty) return failed(errno);
    for (int i = 0; i < qty; ++i)
        buf[i] = static_cast<int16_t>(regs[i]);
    return succeeded();
}

int32_t LibModbusRTU::readBits16(Area area, int32_t addr, int32_t start, int32_t* buf) {
    if (!buf || start < 1 || start - 1 + 16 > 65536)
        return refused(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "超出寄存器范围")));
    if (refusal(addr) != 0) return kModbusFail;
    ++stats_.exchanges;
    uint8_t bits[16];
    const int rc = area == Area::Discrete ? modbus_read_input_bits(ctx_, start - 1, 16, bits)
                                          : modbus_read_bits(ctx_, start - 1, 16, bits);
    if (rc != 16) return failed(errno);
    for (int g = 0; g < 2; ++g) {
        int32_t byte = 0;
        for (int k = 0; k < 8; ++k)
            if (bits[g * 8 + k]) byte |= 1 << k;
        buf[g] = byte;
    }
    return succeeded();
}

int32_t LibModbusRTU::Get_3X_DX(int32_t, int32_t addr, int32_t start, int32_t qty, int32_t* buf) {
    return readRegisters(Area::Input, addr, start, qty, buf);
}

int32_t LibModbusRTU::Get_4X_DX(int32_t, int32_t addr, int32_t start, int32_t qty, int32_t* buf) {
    return readRegisters(Area::Holding, addr, start, qty, buf);
}

int32_t LibModbusRTU::Get_1X_B16(int32_t, int32_t addr, int32_t start, int32_t* buf) {
    return readBits16(Area::Discrete, addr, start, buf);
}

int32_t LibModbusRTU::Get_0X_B16(int32_t, int32_t addr, int32_t start, int32_t* buf) {
    return readBits16(Area::Coil, addr, start, buf);
}

int32_t LibModbusRTU::Set_4X_D1(int32_t, int32_t addr, int32_t reg, int32_t value) {
    // Truncating a value to 16 bits would write a different number: such a value is never sent.
    if (!base::fitsRegister(value) || reg < 1 || reg > 65536)
        return refused(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "超出寄存器范围")));
    if (refusal(addr) != 0) return kModbusFail;
    ++stats_.exchanges;
    const int rc = modbus_write_register(ctx_, reg - 1, static_cast<uint16_t>(value & 0xFFFF));
    if (rc != 1) return failed(errno);
    return succeeded();
}

}  // namespace comm
