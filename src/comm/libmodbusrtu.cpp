#include "comm/libmodbusrtu.h"

#include <modbus.h>

#include <cerrno>

#include "base/numberrule.h"
#include "comm/logging.h"

namespace comm {

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

LibModbusRTU::~LibModbusRTU() = default;

int32_t LibModbusRTU::OpenPort_Modbus(int32_t port, int32_t baudIndex, int32_t parityIndex) {
    // Opening again without a close replaces the previous connection.
    transport_.reset();
    stats_.portOpen = false;
    stats_.openError = {};
    gone_ = false;
    const QString device = ports_.deviceFor(port);
    stats_.device = device;
    if (device.isEmpty()) {
        stats_.openError = {LineError::Kind::NoDevice, port};
        lastFailure_ = stats_.openError;
        return kModbusFail;
    }
    static const int kBauds[] = {4800, 9600, 19200};
    static const char kParity[] = {'N', 'O', 'E'};
    const int baud = baudIndex >= 0 && baudIndex <= 2 ? kBauds[baudIndex] : 9600;
    const char parity = parityIndex >= 0 && parityIndex <= 2 ? kParity[parityIndex] : 'N';
    auto transport = makeTransport(device, baud, parity);
    if (!transport->open(timeoutMs_)) {
        const int e = errno;
        LineError why = transport->openFailure(e);
        why.kind = LineError::Kind::OpenFailed;
        why.number = port;
        why.device = device;
        stats_.openError = why;
        lastFailure_ = stats_.openError;
        qCDebug(lcLink, "port %d (%s) not opened: %s", port, qUtf8Printable(device),
                modbus_strerror(e));
        return kModbusFail;
    }
    qCDebug(lcLink, "port %d opened: %s, %d baud, parity %c", port, qUtf8Printable(device), baud,
            parity);
    transport_ = std::move(transport);
    stats_.portOpen = true;
    return 0;
}

int32_t LibModbusRTU::ClosePort_Modbus(int32_t port) {
    if (transport_) qCDebug(lcLink, "port %d closed", port);
    transport_.reset();
    stats_.portOpen = false;
    return 0;
}

int32_t LibModbusRTU::refusal(int32_t addr) {
    _modbus* ctx = context();
    if (!ctx) return refused({LineError::Kind::NotOpen});
    // Broadcast (0) gets no answer to a read; 248..255 are reserved.
    if (addr < 1 || addr > 247 || modbus_set_slave(ctx, addr) != 0)
        return refused({LineError::Kind::BadAddress, addr});
    return 0;
}

int32_t LibModbusRTU::refused(LineError why) {
    lastFailure_ = std::move(why);
    return kModbusFail;
}

int32_t LibModbusRTU::failed(int e) {
    ++stats_.failures;
    stats_.lastOk = false;
    if (transport_->goneAfter(e)) {
        gone_ = true;
        stats_.lastError = transport_->goneError(e);
    } else {
        stats_.lastError = Transport::exchangeFailure(e);
        transport_->drain(timeoutMs_);
    }
    lastFailure_ = stats_.lastError;
    qCDebug(lcLink, "exchange with slave %d failed: %s (errno %d)%s", modbus_get_slave(context()),
            modbus_strerror(e), e, gone_ ? ", device gone" : "");
    return kModbusFail;
}

int32_t LibModbusRTU::succeeded() {
    stats_.lastOk = true;
    stats_.lastError = {};
    lastFailure_ = {};
    return 0;
}

int32_t LibModbusRTU::readRegisters(Area area, int32_t addr, int32_t start, int32_t qty,
                                    int32_t* buf) {
    if (!buf || qty < 1 || qty > MODBUS_MAX_READ_REGISTERS || start < 1 || start - 1 + qty > 65536)
        return refused({LineError::Kind::OutOfRange});
    if (refusal(addr) != 0) return kModbusFail;
    ++stats_.exchanges;
    uint16_t regs[MODBUS_MAX_READ_REGISTERS];
    const int rc = area == Area::Input
                       ? modbus_read_input_registers(context(), start - 1, qty, regs)
                       : modbus_read_registers(context(), start - 1, qty, regs);
    if (rc != qty) return failed(errno);
    for (int i = 0; i < qty; ++i)
        buf[i] = static_cast<int16_t>(regs[i]);
    return succeeded();
}

int32_t LibModbusRTU::readBits16(Area area, int32_t addr, int32_t start, int32_t* buf) {
    if (!buf || start < 1 || start - 1 + 16 > 65536) return refused({LineError::Kind::OutOfRange});
    if (refusal(addr) != 0) return kModbusFail;
    ++stats_.exchanges;
    uint8_t bits[16];
    const int rc = area == Area::Discrete ? modbus_read_input_bits(context(), start - 1, 16, bits)
                                          : modbus_read_bits(context(), start - 1, 16, bits);
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
        return refused({LineError::Kind::OutOfRange});
    if (refusal(addr) != 0) return kModbusFail;
    ++stats_.exchanges;
    const int rc = modbus_write_register(context(), reg - 1, static_cast<uint16_t>(value & 0xFFFF));
    if (rc != 1) return failed(errno);
    return succeeded();
}

}  // namespace comm
