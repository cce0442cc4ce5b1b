#include "fakemodbus.h"

#include <algorithm>

namespace testing_support {

QString Call::text() const {
    QStringList parts;
    for (int32_t a : args)
        parts << QString::number(a);
    return fn + u'(' + parts.join(u',') + u')';
}

void FakeModbus::record(const char* fn, std::vector<int32_t> args) {
    std::function<void(const QString&)> hook;
    {
        std::lock_guard lock(m_);
        calls_.push_back({QString::fromLatin1(fn), std::move(args)});
        hook = hook_;
    }
    if (hook) hook(QString::fromLatin1(fn));
}

int32_t FakeModbus::OpenPort_Modbus(int32_t port, int32_t baud, int32_t parity) {
    record("OpenPort_Modbus", {port, baud, parity});
    return 0;
}

int32_t FakeModbus::ClosePort_Modbus(int32_t port) {
    record("ClosePort_Modbus", {port});
    return 0;
}

int32_t FakeModbus::read(const char* fn, std::map<int, int32_t>& area, int32_t port, int32_t addr,
                         int32_t start, int32_t qty, int32_t* buf) {
    record(fn, {port, addr, start, qty});
    std::lock_guard lock(m_);
    if (readsFail_ || std::count(failStarts_.begin(), failStarts_.end(), start))
        return comm::kModbusFail;
    for (int i = 0; i < qty; ++i) {
        auto it = area.find(start + i);
        buf[i] = it == area.end() ? 0 : it->second;
    }
    return 0;
}

int32_t FakeModbus::Get_3X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                              int32_t* buf) {
    return read("Get_3X_DX", input_, port, addr, start, qty, buf);
}

int32_t FakeModbus::Get_4X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                              int32_t* buf) {
    return read("Get_4X_DX", holding_, port, addr, start, qty, buf);
}

int32_t FakeModbus::Get_1X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) {
    record("Get_1X_B16", {port, addr, start});
    std::lock_guard lock(m_);
    if (readsFail_ || std::count(failStarts_.begin(), failStarts_.end(), -1))
        return comm::kModbusFail;
    buf[0] = discrete_[0];
    buf[1] = discrete_[1];
    return 0;
}

int32_t FakeModbus::Get_0X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) {
    record("Get_0X_B16", {port, addr, start});
    std::lock_guard lock(m_);
    if (readsFail_) return comm::kModbusFail;
    buf[0] = coils_[0];
    buf[1] = coils_[1];
    return 0;
}

int32_t FakeModbus::Set_4X_D1(int32_t port, int32_t addr, int32_t reg, int32_t value) {
    record("Set_4X_D1", {port, addr, reg, value});
    std::lock_guard lock(m_);
    if (!writeStatus_.empty()) {
        const int32_t s = writeStatus_.front();
        writeStatus_.pop_front();
        if (s != 0) return s;
    }
    holding_[reg] = static_cast<int16_t>(value);
    return 0;
}

void FakeModbus::setInput(int reg, int32_t v) {
    std::lock_guard lock(m_);
    input_[reg] = v;
}

void FakeModbus::setHolding(int reg, int32_t v) {
    std::lock_guard lock(m_);
    holding_[reg] = v;
}

int32_t FakeModbus::holding(int reg) const {
    std::lock_guard lock(m_);
    auto it = holding_.find(reg);
    return it == holding_.end() ? 0 : it->second;
}

void FakeModbus::setDiscreteBytes(int32_t b0, int32_t b1) {
    std::lock_guard lock(m_);
    discrete_[0] = b0;
    discrete_[1] = b1;
}

void FakeModbus::setCoilBytes(int32_t b0, int32_t b1) {
    std::lock_guard lock(m_);
    coils_[0] = b0;
    coils_[1] = b1;
}

void FakeModbus::queueWriteStatus(int32_t status) {
    std::lock_guard lock(m_);
    writeStatus_.push_back(status);
}

void FakeModbus::setReadsFail(bool fail) {
    std::lock_guard lock(m_);
    readsFail_ = fail;
}

void FakeModbus::failReadsAt(int start) {
    std::lock_guard lock(m_);
    failStarts_.push_back(start);
}

void FakeModbus::setHook(std::function<void(const QString&)> hook) {
    std::lock_guard lock(m_);
    hook_ = std::move(hook);
}

std::vector<Call> FakeModbus::calls() const {
    std::lock_guard lock(m_);
    return calls_;
}

QStringList FakeModbus::callTexts() const {
    QStringList out;
    for (const Call& c : calls())
        out << c.text();
    return out;
}

void FakeModbus::clearCalls() {
    std::lock_guard lock(m_);
    calls_.clear();
}

size_t FakeModbus::callCount() const {
    std::lock_guard lock(m_);
    return calls_.size();
}

}  // namespace testing_support
