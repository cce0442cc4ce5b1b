#include "comm/transport.h"

#include <modbus.h>

#include <cerrno>

#include "comm/lineos.h"
#include "comm/ports.h"

namespace comm {

namespace {

using Kind = LineError::Kind;
using Cause = LineError::Cause;

// Error e in the system's words.
LineError systemError(int e, Kind kind = Kind::Failed) {
    return {kind, 0, {}, Cause::System, QString::fromLocal8Bit(modbus_strerror(e))};
}

// Why connecting to a gateway or talking with it failed, in the operator's words where they have
// some.
LineError networkError(int e, Kind kind = Kind::Failed) {
    switch (os::networkFailure(e)) {
        case os::NetworkFailure::Refused:
            return {kind, 0, {}, Cause::Refused, {}};
        case os::NetworkFailure::NoAnswer:
            return {kind, 0, {}, Cause::HostSilent, {}};
        case os::NetworkFailure::Closed:
            return {kind, 0, {}, Cause::GatewayClosed, {}};
        case os::NetworkFailure::Other:
            break;
    }
    return systemError(e, kind);
}

// A serial device: RTU, 8 data bits, 1 stop bit.
class SerialTransport final : public Transport {
  public:
    SerialTransport(QString path, int baud, char parity)
        : path_(std::move(path)), baud_(baud), parity_(parity) {}
    ~SerialTransport() override { close(); }

    bool goneAfter(int e) const override {
        // What a serial device says once it is unplugged: the terminal is hung up, so writes and
        // control calls fail with EIO.
        if (e == EIO || e == ENXIO || e == EBADF || e == ENODEV) return true;
        if (!ctx_) return false;
        // Anything else (a timeout, a read that found end of file, which libmodbus reports as
        // ECONNRESET) means a silent or garbled instrument, unless the port itself no longer
        // answers a control call or its device node has vanished.
        return os::serialPortGone(socket(), path_);
    }
    // The device that went away is named; the system's words stay in the values.
    LineError goneError(int e) const override {
        LineError error = systemError(e, Kind::DeviceGone);
        error.device = path_;
        return error;
    }
    LineError openFailure(int e) const override { return systemError(e); }

  protected:
    bool connect() override {
        const QByteArray path = path_.toLocal8Bit();
        ctx_ = modbus_new_rtu(path.constData(), baud_, parity_, 8, 1);
        return ctx_ && modbus_connect(ctx_) != -1;
    }

  private:
    QString path_;
    int baud_;
    char parity_;
};

// A gateway on the network, reached through a Modbus TCP context.
class NetworkTransport : public Transport {
  public:
    bool goneAfter(int) const override {
        // The gateway closed or reset the connection, or the kernel gave it up (unacknowledged
        // data): the socket has left the established state. A timeout on a live connection is a
        // silent instrument behind the gateway.
        return os::socketClosed(socket());
    }
    LineError goneError(int e) const override { return networkError(e, Kind::ConnectionLost); }
    LineError openFailure(int e) const override { return networkError(e); }

  protected:
    explicit NetworkTransport(NetworkDevice net) : net_(std::move(net)) {}

    // A connected Modbus TCP context, or null with errno set. libmodbus looks the host up,
    // connects without blocking and waits for the connection at most its response timeout.
    _modbus* connectTcp() const {
        const QByteArray host = net_.host.toUtf8(), service = QByteArray::number(net_.port);
        modbus_t* tcp = modbus_new_tcp_pi(host.constData(), service.constData());
        if (!tcp) return nullptr;
        setResponseTimeout(tcp, kGatewayConnectTimeoutMs);
        if (modbus_connect(tcp) == -1) {
            const int e = errno;
            modbus_free(tcp);
            errno = e;
            return nullptr;
        }
        os::limitUnacknowledged(modbus_get_socket(tcp), kGatewayUnacknowledgedMs);
        return tcp;
    }

  private:
    NetworkDevice net_;
};

// Modbus TCP: the unit id is the slave address.
class ModbusTcpTransport final : public NetworkTransport {
  public:
    explicit ModbusTcpTransport(NetworkDevice net) : NetworkTransport(std::move(net)) {}
    ~ModbusTcpTransport() override { close(); }

  protected:
    bool connect() override {
        ctx_ = connectTcp();
        return ctx_ != nullptr;
    }
};

// RTU frames, CRC and all, through a TCP socket, as a serial device server in transparent mode
// passes them on. libmodbus's RTU backend frames, checks the CRC and reads and writes its file
// descriptor with plain read() and write(), which serve a socket as well as a terminal. The RTU
// context is never connected (its path is not opened); it is handed the socket of a Modbus TCP
// context, which connected and owns it.
class RtuOverTcpTransport final : public NetworkTransport {
  public:
    explicit RtuOverTcpTransport(NetworkDevice net) : NetworkTransport(std::move(net)) {}
    ~RtuOverTcpTransport() override { close(); }

  protected:
    bool connect() override {
        carrier_ = connectTcp();
        if (!carrier_) return false;
        ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        if (!ctx_) {
            modbus_close(carrier_);
            modbus_free(carrier_);
            carrier_ = nullptr;
            return false;
        }
        modbus_set_socket(ctx_, modbus_get_socket(carrier_));
        // write() on a socket the gateway has reset raises SIGPIPE, which would end the program;
        // with the signal blocked on this thread it fails with EPIPE instead, like any lost
        // connection.
        os::keepBrokenPipesFromSignalling();
        return true;
    }
    void close() override {
        if (carrier_) {
            // The RTU context only borrowed the socket; its owner closes it.
            if (ctx_) {
                modbus_set_socket(ctx_, -1);
                modbus_free(ctx_);
            }
            ctx_ = carrier_;
            carrier_ = nullptr;
        }
        Transport::close();
    }

  private:
    _modbus* carrier_ = nullptr;
};

// A gateway URL that names no usable host or port: it never opens.
class UnusableTransport final : public Transport {
  public:
    bool goneAfter(int) const override { return false; }
    LineError goneError(int e) const override { return systemError(e); }
    LineError openFailure(int e) const override { return systemError(e); }

  protected:
    bool connect() override {
        errno = EINVAL;
        return false;
    }
};

}  // namespace

Transport::~Transport() = default;

void Transport::close() {
    if (!ctx_) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
}

bool Transport::open(int responseTimeoutMs) {
    close();
    if (!connect()) {
        const int e = errno;
        if (ctx_) modbus_free(ctx_);
        ctx_ = nullptr;
        errno = e;
        return false;
    }
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_NONE);
    setResponseTimeout(ctx_, responseTimeoutMs);
    modbus_set_byte_timeout(ctx_, 0, 50000);
    return true;
}

int Transport::socket() const {
    return ctx_ ? modbus_get_socket(ctx_) : -1;
}

void Transport::setResponseTimeout(_modbus* ctx, int ms) {
    modbus_set_response_timeout(ctx, static_cast<uint32_t>(ms / 1000),
                                static_cast<uint32_t>((ms % 1000) * 1000));
}

LineError Transport::exchangeFailure(int e) {
    switch (e) {
        case ETIMEDOUT:
            return {Kind::Timeout};
        case EMBBADCRC:
            return {Kind::BadCrc};
        case EMBBADDATA:
        case EMBBADSLAVE:
        case EMBBADEXC:
        case EMBMDATA:
            return {Kind::BadAnswer};
        default:
            break;
    }
    if (e > MODBUS_ENOBASE && e < MODBUS_ENOBASE + 16) return {Kind::Exception, e - MODBUS_ENOBASE};
    return systemError(e);
}

void Transport::drain(int limitMs) {
    // An answer that comes after its timeout must not be taken for the answer to the next request
    // (RTU frames carry no transaction number, and two reads of the same size look alike): discard
    // whatever arrives until the line has been quiet for a while, within a bounded time.
    static constexpr int kQuietMs = 20;
    if (!ctx_) return;
    modbus_flush(ctx_);
    const int fd = socket();
    if (fd < 0) return;
    os::discardInput(fd, kQuietMs, limitMs);
}

std::unique_ptr<Transport> makeTransport(const QString& device, int baud, char parity) {
    if (const auto net = parseNetworkDevice(device)) {
        if (net->kind == NetworkDevice::Kind::ModbusTcp)
            return std::make_unique<ModbusTcpTransport>(*net);
        return std::make_unique<RtuOverTcpTransport>(*net);
    }
    if (looksLikeNetworkDevice(device)) return std::make_unique<UnusableTransport>();
    return std::make_unique<SerialTransport>(device, baud, parity);
}

}  // namespace comm
