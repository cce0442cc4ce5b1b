#pragma once
// What the line benchmarks measure the line's time against.

#include <QElapsedTimer>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "comm/libmodbusrtu.h"

namespace bench {

// The libmodbus bus, timing each call and counting the wire time of the frames it carries: a
// request of 8 bytes, an answer of 5 bytes plus the data, and the 3.5 characters of silence that
// end each frame.
class TimedBus : public comm::ModbusRTU {
  public:
    TimedBus(comm::PortMap ports, int baud) : bus_(std::move(ports)), charNs_(10e9 / baud) {}
    int32_t OpenPort_Modbus(int32_t p, int32_t b, int32_t q) override {
        return bus_.OpenPort_Modbus(p, b, q);
    }
    int32_t ClosePort_Modbus(int32_t p) override { return bus_.ClosePort_Modbus(p); }
    int32_t Get_3X_DX(int32_t p, int32_t a, int32_t s, int32_t n, int32_t* b) override {
        return timed(2 * n, [&] { return bus_.Get_3X_DX(p, a, s, n, b); });
    }
    int32_t Get_4X_DX(int32_t p, int32_t a, int32_t s, int32_t n, int32_t* b) override {
        return timed(2 * n, [&] { return bus_.Get_4X_DX(p, a, s, n, b); });
    }
    int32_t Get_1X_B16(int32_t p, int32_t a, int32_t s, int32_t* b) override {
        return timed(2, [&] { return bus_.Get_1X_B16(p, a, s, b); });
    }
    int32_t Get_0X_B16(int32_t p, int32_t a, int32_t s, int32_t* b) override {
        return timed(2, [&] { return bus_.Get_0X_B16(p, a, s, b); });
    }
    int32_t Set_4X_D1(int32_t p, int32_t a, int32_t r, int32_t v) override {
        return timed(3, [&] { return bus_.Set_4X_D1(p, a, r, v); });
    }
    comm::LinkStats stats() const override { return bus_.stats(); }
    comm::LineError lastFailure() const override { return bus_.lastFailure(); }
    bool deviceGone() const override { return bus_.deviceGone(); }

    // Only answered exchanges count: a silent slave's timeout carries no answer.
    static inline std::atomic<int64_t> busyNs{0}, wireNs{0};

  private:
    template <class F>
    int32_t timed(int dataBytes, F call) {
        QElapsedTimer t;
        t.start();
        const int32_t status = call();
        if (status == 0) {
            const int64_t busy = t.nsecsElapsed();
            const auto wire = static_cast<int64_t>((8 + 5 + dataBytes + 2 * 3.5) * charNs_);
            busyNs += busy;
            wireNs += wire;
            std::lock_guard<std::mutex> lock(excessMutex);
            excessUs.push_back(static_cast<int32_t>((busy - wire) / 1000));
        }
        return status;
    }
    comm::LibModbusRTU bus_;
    double charNs_;

  public:
    // Each answered exchange's time beyond the wire time of its frames, in microseconds.
    static inline std::mutex excessMutex;
    static inline std::vector<int32_t> excessUs;
};

}  // namespace bench
