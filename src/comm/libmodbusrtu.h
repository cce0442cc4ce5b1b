#pragma once
// The seven calls over libmodbus. A silent instrument costs at most about 0.3 s per call; the line
// is flushed after every failed exchange so that a late or garbled answer cannot be taken for the
// next one. The port's device picks the transport (see makeTransport): a serial device, or a
// gateway (NetworkDevice) speaking Modbus TCP or passing RTU frames through a TCP socket.

#include <memory>

#include "comm/modbusrtu.h"
#include "comm/ports.h"
#include "comm/transport.h"

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
    LineError lastFailure() const override { return lastFailure_; }
    bool deviceGone() const override { return gone_; }

    // Response timeout per exchange in milliseconds (default 250).
    void setResponseTimeoutMs(int ms) { timeoutMs_ = ms; }

    static constexpr int kConnectTimeoutMs = kGatewayConnectTimeoutMs;
    static constexpr int kUnacknowledgedMs = kGatewayUnacknowledgedMs;

  private:
    enum class Area { Input, Holding, Discrete, Coil };
    int32_t readRegisters(Area area, int32_t addr, int32_t start, int32_t qty, int32_t* buf);
    int32_t readBits16(Area area, int32_t addr, int32_t start, int32_t* buf);
    // Refuses a call before the wire when no port is open or the address is unusable: the reason
    // is kept, but no exchange is counted. Returns 0 when the call may go ahead.
    int32_t refusal(int32_t addr);
    int32_t refused(LineError why);
    // Ends an exchange that failed with the system's error number e.
    int32_t failed(int e);
    int32_t succeeded();
    _modbus* context() const { return transport_ ? transport_->context() : nullptr; }

    PortMap ports_;
    std::unique_ptr<Transport> transport_;  // the open port's, or null
    LineError lastFailure_;
    bool gone_ = false;
    int timeoutMs_ = 250;
    LinkStats stats_;
};

}  // namespace comm
