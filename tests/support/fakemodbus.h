#pragma once
// A scripted ModbusRTU for tests: records every call with its arguments, answers reads from
// register maps the test fills, and returns the statuses the test queues for writes. Thread-safe,
// since the link thread calls it while the test thread inspects it.

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "comm/modbusrtu.h"

namespace testing_support {

struct Call {
    QString fn;                 // "Get_3X_DX", "Set_4X_D1", ...
    std::vector<int32_t> args;  // arguments as passed, buffer excluded
    QString text() const;       // "Set_4X_D1(1,1,4107,-1999)"
};

class FakeModbus : public comm::ModbusRTU {
  public:
    int32_t OpenPort_Modbus(int32_t port, int32_t baud, int32_t parity) override;
    int32_t ClosePort_Modbus(int32_t port) override;
    int32_t Get_3X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                      int32_t* buf) override;
    int32_t Get_4X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                      int32_t* buf) override;
    int32_t Get_1X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) override;
    int32_t Get_0X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) override;
    int32_t Set_4X_D1(int32_t port, int32_t addr, int32_t reg, int32_t value) override;

    // Register contents served by reads (missing registers read as 0).
    void setInput(int reg, int32_t v);
    void setHolding(int reg, int32_t v);
    int32_t holding(int reg) const;
    // The two byte values answered by Get_1X_B16 / Get_0X_B16.
    void setDiscreteBytes(int32_t b0, int32_t b1);
    void setCoilBytes(int32_t b0, int32_t b1);
    // Statuses for the next Set_4X_D1 calls, in order; when empty a write succeeds and is stored.
    void queueWriteStatus(int32_t status);
    // Every read fails (returns -8888, buffer untouched) while set.
    void setReadsFail(bool fail);
    // Reads whose start register is in this set fail.
    void failReadsAt(int start);
    // Called at the start of every call with its name (on the calling thread), e.g. to add a delay.
    void setHook(std::function<void(const QString&)> hook);

    std::vector<Call> calls() const;
    QStringList callTexts() const;
    void clearCalls();
    size_t callCount() const;

  private:
    int32_t read(const char* fn, std::map<int, int32_t>& area, int32_t port, int32_t addr,
                 int32_t start, int32_t qty, int32_t* buf);
    void record(const char* fn, std::vector<int32_t> args);

    mutable std::mutex m_;
    std::map<int, int32_t> input_, holding_;
    int32_t discrete_[2] = {0, 0}, coils_[2] = {0, 0};
    std::deque<int32_t> writeStatus_;
    bool readsFail_ = false;
    std::vector<int> failStarts_;
    std::function<void(const QString&)> hook_;
    std::vector<Call> calls_;
};

}  // namespace testing_support
