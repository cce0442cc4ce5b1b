#pragma once
// The seven calls over libmodbus: RTU, 8 data bits, 1 stop bit. A silent instrument costs at most
// about 0.3 s per call; the line is flushed after every failed exchange so that a late or garbled
// answer cannot be taken for the next one.

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

    // Response timeout per exchange in milliseconds (default 250).
    void setResponseTimeoutMs(int ms) { timeoutMs_ = ms; }

  private:
    enum class Area { Input, Holding, Discrete, Coil };
    int32_t readRegisters(Area area, int32_t addr, int32_t start, int32_t qty, int32_t* buf);
    int32_t readBits16(Area area, int32_t addr, int32_t start, int32_t* buf);
    // Prepares the context for an exchange with a slave; false (and a failure) when no port is
    // open.
    bool ready(int32_t addr);
    int32_t failed(const QString& why);
    int32_t succeeded();
    void closeContext();
    void drainLine();
    static constexpr int kQuietMs = 20;

    PortMap ports_;
    _modbus* ctx_ = nullptr;
    int timeoutMs_ = 250;
    LinkStats stats_;
};

}  // namespace comm
