#include "comm/pollcycle.h"

namespace comm {

void PollCycle::begin(int32_t port, int32_t addr) {
    port_ = port;
    addr_ = addr;
    paramRegs_.fill(0);
    next_ = 1;
}

bool PollCycle::step() {
    if (next_ < 1 || next_ > kBlocks) {
        next_ = 0;
        lastStatus_ = kModbusFail;
        return false;
    }
    lastStatus_ = read(next_);
    if (next_ >= kBlocks) {
        next_ = 0;
        return false;
    }
    ++next_;
    return true;
}

int32_t PollCycle::readBlock(int32_t port, int32_t addr, int block) {
    next_ = 0;
    port_ = port;
    addr_ = addr;
    lastStatus_ = block >= 1 && block <= kBlocks ? read(block) : kModbusFail;
    return lastStatus_;
}

int32_t PollCycle::read(int block) {
    auto& im = image_;
    int32_t status = kModbusFail;
    switch (block) {
        case 1:
            status = bus_.Get_3X_DX(port_, addr_, 1, 8, im.InputRegsLow.data());
            for (int k = 0; k < 8; ++k)
                im.LiveValues[k] = static_cast<float>(im.InputRegsLow[k]);
            // The control-output flags come from the previous cycle: the discrete inputs are read
            // last.
            im.LiveValues[8] = im.DiscreteBits[0] == 1 ? 100.0f : 0.0f;
            im.LiveValues[9] = im.DiscreteBits[1] == 1 ? 100.0f : 0.0f;
            break;
        case 2:
            status = bus_.Get_3X_DX(port_, addr_, 4097, 16, im.InputRegsHigh.data());
            break;
        case 3:
            status = bus_.Get_4X_DX(port_, addr_, 1, 8, im.HoldingRegsLow.data());
            for (int k = 0; k < 8; ++k)
                im.HoldingValues[k] = static_cast<float>(im.HoldingRegsLow[k]);
            break;
        case 4:
            status = bus_.Get_4X_DX(port_, addr_, 4097, 16, &paramRegs_[0]);
            break;
        case 5:
            status = bus_.Get_4X_DX(port_, addr_, 4113, 16, &paramRegs_[16]);
            break;
        case 6:
            status = bus_.Get_4X_DX(port_, addr_, 4129, 16, &paramRegs_[32]);
            // A block whose read failed stays zero here, so its parameters read as 0.
            for (int k = 0; k < 48; ++k)
                im.ParamValues[k] = static_cast<float>(paramRegs_[k]);
            break;
        case 7:
            status = bus_.Get_4X_DX(port_, addr_, 257, 8, im.HoldingRegs257.data());
            break;
        case 8:
            status = bus_.Get_1X_B16(port_, addr_, 1, &bitWords_[0]);
            unpackInto(bitWords_[0], im.DiscreteBits, 0);
            unpackInto(bitWords_[1], im.DiscreteBits, 8);
            break;
        case 9:
            status = bus_.Get_0X_B16(port_, addr_, 1, &bitWords_[2]);
            unpackInto(bitWords_[2], im.CoilBits, 0);
            unpackInto(bitWords_[3], im.CoilBits, 8);
            break;
        default:
            break;
    }
    return status;
}

void PollCycle::runCycle(int32_t port, int32_t addr, const std::function<void()>& yield,
                         const std::function<void()>& publish) {
    begin(port, addr);
    for (;;) {
        const bool more = step();
        if (publish) publish();
        if (!more) break;
        if (yield) yield();
    }
}

void PollCycle::splitByte(int32_t b) {
    for (int i = 7; i >= 0; --i) {
        const int32_t p = 1 << i;
        if (b / p >= 1) {
            byteBits_[i] = 1;
            b -= p;
        } else {
            byteBits_[i] = 0;
        }
    }
}

void PollCycle::unpackInto(int32_t byte, std::array<int32_t, 101>& flags, int first) {
    if (byte < 0 || byte > 255) return;
    splitByte(byte);
    for (int i = 0; i < 8; ++i)
        flags[first + i] = byteBits_[i];
}

}  // namespace comm
