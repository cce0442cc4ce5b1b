#pragma once
// How a port reaches the instrument over libmodbus: a serial device, a Modbus TCP gateway, or RTU
// frames through a TCP socket. Each transport makes and connects its libmodbus context and knows
// what a failure means on its kind of line; the exchanges themselves are the same for all of them
// (LibModbusRTU).

#include <QString>
#include <memory>

#include "comm/lineerror.h"

struct _modbus;

namespace comm {

// Connecting to a gateway waits at most this long.
inline constexpr int kGatewayConnectTimeoutMs = 1000;
// A request a gateway has not acknowledged for this long (a pulled cable, a gateway gone without a
// word) ends the connection, so that it is reconnected like an unplugged device.
inline constexpr int kGatewayUnacknowledgedMs = 3000;

class Transport {
  public:
    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Makes and connects the context; false with the system's error number in errno. Once
    // connected, the context answers no later than the response timeout and never recovers from
    // errors on its own.
    bool open(int responseTimeoutMs);
    _modbus* context() const { return ctx_; }
    // Whether error number e, or the state of the line after it, says the device has gone.
    virtual bool goneAfter(int e) const = 0;
    // The status for a gone device, naming error e.
    virtual LineError goneError(int e) const = 0;
    // Why opening failed with error e (its cause and the system's words; kind left to the caller).
    virtual LineError openFailure(int e) const = 0;
    // Why an exchange on a live line failed with error e.
    static LineError exchangeFailure(int e);
    // Discards what arrives on the line until it has been quiet for a while, at most limitMs.
    void drain(int limitMs);

    static void setResponseTimeout(_modbus* ctx, int ms);

  protected:
    Transport() = default;
    // Makes ctx_ and connects it; false with errno set.
    virtual bool connect() = 0;
    virtual void close();
    int socket() const;

    _modbus* ctx_ = nullptr;
};

// The transport for a port's device: "tcp://HOST:PORT" a Modbus TCP gateway, "rtu+tcp://HOST:PORT"
// RTU through a TCP socket, anything else a serial device at the given baud rate and parity
// ('N', 'O', 'E'). A gateway URL without a usable host or port gives a transport that fails to
// open with EINVAL.
std::unique_ptr<Transport> makeTransport(const QString& device, int baud, char parity);

}  // namespace comm
