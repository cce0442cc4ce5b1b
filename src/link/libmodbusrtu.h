#pragma once
// The seven calls over libmodbus: RTU, 8 data bits, 1 stop bit. A silent instrument costs at most
// about 0.3 s per call; the line is flushed after every failed exchange so that a late or garbled
// answer cannot be taken for the next one. A port may also name a gateway (NetworkDevice): Modbus
// TCP, or RTU frames through a TCP socket; connecting to one waits at most kConnectTimeoutMs.

#include <memory>

#include "link/modbusrtu.h"
#include "link/ports.h"

struct _modbus;

namespace comm {

class LibModbusRTU : public ModbusRTU {
  public:
    explicit LibModbusRTU(PortMap ports);
    ~LibModbusRTU() override;

    int32_t OpenPort_Modbus(int32_t port, int32_t baudIndex, int32_t parityIndex) override;
    int32_t ClosePort_Modbus(int32_t port) override;
    int32_t Get_3X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                      int32_t* buf) override;
    int32_t Get_4X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                      int32_t* buf) override;
    int32_t Get_1X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) override;
    int32_t Get_0X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) override;
    int32_t Set_4X_D1(int32_t port, int32_t addr, int32_t reg, int32_t value) override;
    LinkStats stats() const override { return stats_; }
    QString lastFailure() const override { return lastFailure_; }
    bool deviceGone() const override { return gone_; }

    // Response timeout per exchange in milliseconds (default 250).
    void setResponseTimeoutMs(int ms) { timeoutMs_ = ms; }

    static constexpr int kConnectTimeoutMs = 1000;
    // A request the gateway has not acknowledged for this long (a pulled cable, a gateway gone
    // without a word) ends the connection, so that it is reconnected like an unplugged device.
    static constexpr int kUnacknowledgedMs = 3000;

  private:
    enum class Area { Input, Holding, Discrete, Coil };
    int32_t readRegisters(Area area, int32_t addr, int32_t start, int32_t qty, int32_t* buf);
    int32_t readBits16(Area area, int32_t addr, int32_t start, int32_t* buf);
    // Refuses a call before the wire when no port is open or the address is unusable: the reason
    // is kept, but no exchange is counted. Returns 0 when the call may go ahead.
    int32_t refusal(int32_t addr);
    int32_t refused(const QString& why);
    // Ends an exchange that failed with the system's error number e.
    int32_t failed(int e);
    int32_t succeeded();
    // Whether error number e, or the state of the port after it, says the device has gone.
    bool deviceGoneAfter(int e) const;
    // Connects to a gateway; false with the system's error number in errno.
    bool connectNetwork(const NetworkDevice& net);
    void closeContext();
    void drainLine();
    static constexpr int kQuietMs = 20;

    PortMap ports_;
    _modbus* ctx_ = nullptr;
    // For RTU over TCP: the Modbus TCP context that connected and owns the socket on which ctx_,
    // an RTU context, frames its requests. Null otherwise.
    _modbus* carrier_ = nullptr;
    bool network_ = false;  // the open device is a gateway
    QString lastFailure_;
    bool gone_ = false;
    int timeoutMs_ = 250;
    LinkStats stats_;
};

}  // namespace comm
