#include "sim/instrument.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

struct Block {
    int first;
    int count;
};

constexpr Block kCoilBlocks[] = {{1, 16}};
constexpr Block kDiscreteBlocks[] = {{1, 16}};
constexpr Block kInputBlocks[] = {{1, 8}, {4097, 16}};
constexpr Block kHoldingBlocks[] = {{1, 8}, {257, 8}, {4097, 48}, {8193, 48}};

template <size_t N>
bool inBlocks(const Block (&blocks)[N], int first, int count) {
    if (count <= 0) return false;
    for (const Block& b : blocks) {
        // 64-bit sums: first and count may be anything a caller passes.
        if (first >= b.first && int64_t(first) + count <= int64_t(b.first) + b.count) return true;
    }
    return false;
}

int16_t toSigned(uint16_t v) {
    return static_cast<int16_t>(v);
}

uint16_t clampToRegister(double v) {
    const double r = std::round(v);
    const double c = std::clamp(r, -32768.0, 32767.0);
    return static_cast<uint16_t>(static_cast<int16_t>(c));
}

// Configuration registers, 4X 4097 + k.
enum Config {
    kFilter = 2,
    kInput1Upper = 10,
    kInput1Offset = 12,
    kInput2Upper = 18,
    kInput2Offset = 20,
    kOut1Hyst = 24,
    kOut1Protect = 26,
    kOut1OpenState = 27,
    kOut2Hyst = 28,
    kOut2Protect = 30,
    kOut2OpenState = 31,
    kAlarm1Mode = 32,
    kAlarm2Mode = 33,
    kAlarm1Channel = 34,
    kAlarm2Channel = 35,
    kAddress = 36,
    kBaud = 37,
    kRet1Source = 41,
    kRet1Upper = 42,
    kRet1Lower = 43,
    kRet2Source = 45,
    kRet2Upper = 46,
    kRet2Lower = 47,
};

}  // namespace

Instrument::Instrument(uint32_t seed) : rng_(seed) {
    // Factory settings.
    hLow_[0] = 300;   // SV1 setting
    hLow_[1] = 600;   // SV2 setting
    h257_[0] = 1000;  // alarm 1 set value
    h257_[1] = 5;     // alarm 1 hysteresis
    h257_[3] = 100;   // alarm 2 set value
    h257_[4] = 5;     // alarm 2 hysteresis
    hConfig_[kFilter] = 10;
    hConfig_[kInput1Upper] = 5000;
    hConfig_[kInput2Upper] = 5000;
    hConfig_[kOut1Protect] = 1;
    hConfig_[kOut2Protect] = 1;
    hConfig_[kAlarm2Channel] = 1;
    hConfig_[kAddress] = 1;
    hConfig_[kBaud] = 1;
    hConfig_[kRet1Source] = 1;
    hConfig_[kRet1Upper] = 5000;
    hConfig_[kRet2Source] = 1;
    hConfig_[kRet2Upper] = 5000;
    // A small demonstration program: minutes, three segments, one cycle, start from PV,
    // keep the last SV at the end.
    hProgram_[0] = 1;
    hProgram_[1] = 2;
    hProgram_[2] = 1;
    hProgram_[4] = 0;
    hProgram_[5] = 1;
    const int demo[3][3] = {{500, 700, 10}, {800, 750, 20}, {300, 600, 10}};
    for (int k = 1; k <= 3; ++k) {
        for (int j = 0; j < 3; ++j)
            hProgram_[4 * k + 4 + j] = uint16_t(demo[k - 1][j]);
    }
    refresh();
}

bool Instrument::inMap(Area area, int first, int count) {
    switch (area) {
        case Area::Coils:
            return inBlocks(kCoilBlocks, first, count);
        case Area::DiscreteInputs:
            return inBlocks(kDiscreteBlocks, first, count);
        case Area::InputRegisters:
            return inBlocks(kInputBlocks, first, count);
        case Area::HoldingRegisters:
            return inBlocks(kHoldingBlocks, first, count);
    }
    return false;
}

uint16_t* Instrument::holdingSlot(int n) {
    return const_cast<uint16_t*>(static_cast<const Instrument*>(this)->holdingSlot(n));
}

const uint16_t* Instrument::holdingSlot(int n) const {
    if (n >= 1 && n <= 8) return &hLow_[n - 1];
    if (n >= 257 && n <= 264) return &h257_[n - 257];
    if (n >= 4097 && n <= 4144) return &hConfig_[n - 4097];
    if (n >= 8193 && n <= 8240) return &hProgram_[n - 8193];
    return nullptr;
}

Access Instrument::readRegisters(Area area, int first, int count, uint16_t* out) const {
    if (area != Area::InputRegisters && area != Area::HoldingRegisters) {
        return Access::IllegalFunction;
    }
    if (!inMap(area, first, count)) return Access::IllegalAddress;
    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        if (area == Area::HoldingRegisters) {
            out[i] = *holdingSlot(n);
        } else {
            out[i] = n <= 8 ? inLow_[n - 1] : inHigh_[n - 4097];
        }
    }
    return Access::Ok;
}

Access Instrument::readBits(Area area, int first, int count, uint8_t* out) const {
    if (area != Area::Coils && area != Area::DiscreteInputs) return Access::IllegalFunction;
    if (!inMap(area, first, count)) return Access::IllegalAddress;
    // Coils mirror the discrete inputs.
    for (int i = 0; i < count; ++i)
        out[i] = bits_[first + i - 1] ? 1 : 0;
    return Access::Ok;
}

Access Instrument::writeRegisters(Area area, int first, int count, const uint16_t* values) {
    if (area != Area::HoldingRegisters) return Access::IllegalFunction;
    if (!inMap(area, first, count)) return Access::IllegalAddress;
    for (int i = 0; i < count; ++i) {
        *holdingSlot(first + i) = values[i];
        if (first + i == 3) command(toSigned(values[i]));
    }
    refresh();
    return Access::Ok;
}

int Instrument::holdingRegister(int n) const {
    const uint16_t* slot = holdingSlot(n);
    return slot ? toSigned(*slot) : 0;
}

int Instrument::inputRegister(int n) const {
    uint16_t v = 0;
    return readRegisters(Area::InputRegisters, n, 1, &v) == Access::Ok ? toSigned(v) : 0;
}

bool Instrument::discreteInput(int n) const {
    uint8_t b = 0;
    return readBits(Area::DiscreteInputs, n, 1, &b) == Access::Ok && b != 0;
}

bool Instrument::coil(int n) const {
    uint8_t b = 0;
    return readBits(Area::Coils, n, 1, &b) == Access::Ok && b != 0;
}

bool Instrument::setHoldingRegister(int n, int value) {
    const uint16_t v = static_cast<uint16_t>(value & 0xFFFF);
    return writeRegisters(Area::HoldingRegisters, n, 1, &v) == Access::Ok;
}

void Instrument::setOwnAddress(int address) {
    hConfig_[kAddress] = static_cast<uint16_t>(address);
}

void Instrument::setSensorOpen(int ch, bool open) {
    if (ch != 1 && ch != 2) return;
    sensorOpen_[ch - 1] = open;
    refresh();
}

bool Instrument::sensorOpen(int ch) const {
    return (ch == 1 || ch == 2) && sensorOpen_[ch - 1];
}

void Instrument::setTimeScale(double factor) {
    if (factor > 0 && std::isfinite(factor)) timeScale_ = factor;
}

void Instrument::setNoise(double amplitude) {
    noiseAmplitude_ = std::isfinite(amplitude) ? std::max(0.0, amplitude) : 0.0;
    if (noiseAmplitude_ == 0.0) noise_[0] = noise_[1] = 0.0;
    refresh();
}

void Instrument::startAsDemo(int offset) {
    hLow_[0] = uint16_t(30 + offset);
    hLow_[1] = uint16_t(50 - offset);
    pv_[0] = 18 + offset;
    pv_[1] = 32 - offset;
    refresh();
}

void Instrument::setProcessValue(int ch, double value) {
    if ((ch != 1 && ch != 2) || !std::isfinite(value)) return;
    pv_[ch - 1] = value;
    refresh();
}

double Instrument::processValue(int ch) const {
    return (ch == 1 || ch == 2) ? pv_[ch - 1] : 0.0;
}

// ---- program ----

int Instrument::segmentCount() const {
    return std::clamp(hr(8194) + 1, 1, 8);
}

double Instrument::unitSeconds() const {
    switch (hr(8193)) {
        case 0:
            return 3600.0;
        case 2:
            return 1.0;
        default:
            return 60.0;
    }
}

double Instrument::segmentSeconds(int k) const {
    return std::max(0, hr(8199 + 4 * k)) * unitSeconds();
}

double Instrument::segmentTarget(int k, int ch) const {
    return hr(8196 + 4 * k + ch);
}

void Instrument::command(int value) {
    switch (value) {
        case 0:
            state_ = ProgramState::Stopped;
            segment_ = 0;
            segElapsed_ = 0;
            break;
        case 1:
            if (state_ == ProgramState::Paused) {
                state_ = ProgramState::Running;
            } else if (state_ != ProgramState::Running) {
                startProgram();
            }
            break;
        case 2:
            if (state_ == ProgramState::Running) state_ = ProgramState::Paused;
            break;
        case 3:
            heldSv_[0] = workingSv(1);
            heldSv_[1] = workingSv(2);
            state_ = ProgramState::Ended;
            break;
        default:
            return;  // stored, no effect
    }
    hLow_[2] = static_cast<uint16_t>(state_);
}

void Instrument::startProgram() {
    const bool fromSv = hr(8197) == 1;
    for (int ch = 1; ch <= 2; ++ch)
        segStart_[ch - 1] = fromSv ? hr(ch) : pvReading(ch);
    state_ = ProgramState::Running;
    segment_ = 1;
    segElapsed_ = 0;
    cyclesDone_ = 0;
    advanceProgram(0);  // zero-time segments end at once
}

void Instrument::finishSegment() {
    segStart_[0] = segmentTarget(segment_, 1);
    segStart_[1] = segmentTarget(segment_, 2);
    segElapsed_ = 0;
    if (segment_ < segmentCount()) {
        ++segment_;
        return;
    }
    ++cyclesDone_;
    const int cycles = hr(8195);
    if (cycles <= 0 || cyclesDone_ < cycles) {
        segment_ = 1;
        return;
    }
    heldSv_[0] = segStart_[0];
    heldSv_[1] = segStart_[1];
    state_ = ProgramState::Ended;
    hLow_[2] = static_cast<uint16_t>(state_);
}

void Instrument::advanceProgram(double dt) {
    // The guard stops an endless program whose segments all take no time from spinning.
    for (int guard = 0; state_ == ProgramState::Running && guard < 1000; ++guard) {
        if (segment_ > segmentCount()) segment_ = segmentCount();  // block edited meanwhile
        const double left = segmentSeconds(segment_) - segElapsed_;
        if (dt < left) {
            segElapsed_ += dt;
            return;
        }
        dt -= std::max(0.0, left);
        finishSegment();
    }
}

double Instrument::workingSv(int ch) const {
    switch (state_) {
        case ProgramState::Stopped:
            return hr(ch);
        case ProgramState::Ended:
            return hr(8198) == 1 ? heldSv_[ch - 1] : 0.0;
        case ProgramState::Running:
        case ProgramState::Paused:
            break;
    }
    const double dur = segmentSeconds(segment_);
    const double frac = dur > 0 ? std::clamp(segElapsed_ / dur, 0.0, 1.0) : 1.0;
    const double from = segStart_[ch - 1];
    return from + (segmentTarget(segment_, ch) - from) * frac;
}

// ---- dynamics ----

int Instrument::pvReading(int ch) const {
    if (sensorOpen_[ch - 1]) return hr(ch == 1 ? 4097 + kInput1Upper : 4097 + kInput2Upper);
    const int offset = hr(ch == 1 ? 4097 + kInput1Offset : 4097 + kInput2Offset);
    return toSigned(clampToRegister(pv_[ch - 1] + offset + noise_[ch - 1]));
}

void Instrument::step(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) {
        refresh();
        return;
    }
    double dt = seconds * timeScale_;
    if (state_ == ProgramState::Running) {
        // Advance the program and the lag together in slices, so that a long step still
        // follows a ramp rather than jumping to its end.
        const double slice = std::max(1.0, dt / 1000.0);
        while (dt > 0) {
            const double d = std::min(dt, slice);
            advanceProgram(d);
            for (int ch = 1; ch <= 2; ++ch) {
                pv_[ch - 1] += (workingSv(ch) - pv_[ch - 1]) * (1.0 - std::exp(-d / kTimeConstant));
            }
            dt -= d;
        }
    } else {
        for (int ch = 1; ch <= 2; ++ch) {
            pv_[ch - 1] += (workingSv(ch) - pv_[ch - 1]) * (1.0 - std::exp(-dt / kTimeConstant));
        }
    }
    if (noiseAmplitude_ > 0) {
        std::uniform_real_distribution<double> dist(-noiseAmplitude_, noiseAmplitude_);
        noise_[0] = dist(rng_);
        noise_[1] = dist(rng_);
    }
    refresh();
}

void Instrument::refresh() {
    int pv[2];
    int sv[2];
    for (int ch = 1; ch <= 2; ++ch) {
        pv[ch - 1] = pvReading(ch);
        sv[ch - 1] = toSigned(clampToRegister(workingSv(ch)));
    }

    // Control outputs.
    for (int i = 0; i < 2; ++i) {
        if (state_ == ProgramState::Ended && hr(8198) != 1) {
            output_[i] = false;
        } else if (sensorOpen_[i]) {
            output_[i] = hr(4097 + (i == 0 ? kOut1OpenState : kOut2OpenState)) == 1;
        } else {
            const int hyst = std::max(0, hr(4097 + (i == 0 ? kOut1Hyst : kOut2Hyst)));
            if (pv[i] < sv[i] - hyst) {
                output_[i] = true;
            } else if (pv[i] >= sv[i]) {
                output_[i] = false;
            }
        }
    }

    // Alarms.
    for (int i = 0; i < 2; ++i) {
        const int mode = hr(4097 + (i == 0 ? kAlarm1Mode : kAlarm2Mode));
        const int loop = hr(4097 + (i == 0 ? kAlarm1Channel : kAlarm2Channel)) == 1 ? 1 : 0;
        double setValue = hr(i == 0 ? 257 : 260);
        const double hyst = hr(i == 0 ? 258 : 261);
        const double p = pv[loop];
        const double s = sv[loop];
        double x = 0;
        switch (mode) {
            case 1:
                x = p;
                break;
            case 2:
                x = -p;
                setValue = -setValue;
                break;
            case 3:
                x = p - s;
                break;
            case 4:
                x = s - p;
                break;
            case 5:
                x = std::abs(p - s);
                break;
            default:
                alarm_[i] = false;
                continue;
        }
        if (x > setValue) {
            alarm_[i] = true;
        } else if (x <= setValue - hyst) {
            alarm_[i] = false;
        }
    }

    // Retransmission outputs, 0..1000 tenths of a percent of the span.
    int retrans[2] = {};
    for (int i = 0; i < 2; ++i) {
        const int source = hr(4097 + (i == 0 ? kRet1Source : kRet2Source));
        const double upper = hr(4097 + (i == 0 ? kRet1Upper : kRet2Upper));
        const double lower = hr(4097 + (i == 0 ? kRet1Lower : kRet2Lower));
        if ((source != 1 && source != 2) || upper == lower) continue;
        const double value = (pv[source - 1] - lower) * 1000.0 / (upper - lower);
        retrans[i] = static_cast<int>(std::lround(std::clamp(value, 0.0, 1000.0)));
    }

    inLow_[0] = uint16_t(pv[0]);
    inLow_[1] = uint16_t(pv[1]);
    inLow_[2] = uint16_t(sv[0]);
    inLow_[3] = uint16_t(sv[1]);
    inLow_[4] = uint16_t(retrans[0]);
    inLow_[5] = uint16_t(retrans[1]);
    inLow_[6] = hConfig_[kAlarm1Mode];
    inLow_[7] = hConfig_[kAlarm2Mode];

    // Program status.
    int segment = 0;
    int segLeft = 0;
    int totalLeft = 0;
    if (state_ == ProgramState::Running || state_ == ProgramState::Paused) {
        segment = segment_;
        const double unit = unitSeconds();
        const double segSeconds = std::max(0.0, segmentSeconds(segment_) - segElapsed_);
        double total = segSeconds;
        for (int k = segment_ + 1; k <= segmentCount(); ++k)
            total += segmentSeconds(k);
        // Rounded up in the time unit; the small margin keeps float dust from adding one.
        auto up = [unit](double s) {
            return static_cast<int>(std::min(32767.0, std::ceil(s / unit - 1e-9)));
        };
        segLeft = up(segSeconds);
        totalLeft = up(total);
    } else if (state_ == ProgramState::Ended) {
        segment = segmentCount();
    }
    for (uint16_t& r : inHigh_)
        r = 0;
    inHigh_[0] = uint16_t(state_);
    inHigh_[1] = uint16_t(pv[0]);
    inHigh_[2] = uint16_t(sv[0]);
    inHigh_[3] = uint16_t(pv[1]);
    inHigh_[4] = uint16_t(sv[1]);
    inHigh_[5] = uint16_t(segment);
    inHigh_[6] = uint16_t(segLeft);
    inHigh_[7] = uint16_t(totalLeft);
    inHigh_[8] = uint16_t(std::min(cyclesDone_, 32767));

    for (bool& b : bits_)
        b = false;
    bits_[0] = output_[0];
    bits_[1] = output_[1];
    bits_[2] = alarm_[0];
    bits_[3] = alarm_[1];
    bits_[4] = sensorOpen_[0];
    bits_[5] = sensorOpen_[1];
}

}  // namespace sim
