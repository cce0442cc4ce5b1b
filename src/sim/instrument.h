#pragma once

// The simulated two-loop controller: its Modbus register map and its dynamics.
// Pure logic: no I/O, no threads, no clock. Time only moves through step().
//
// Registers are named by their area and number as the program names them (4X 4097 is
// holding register number 4097, wire address 4096). The map:
//   3X (input registers)    1..8, 4097..4112            read only
//   4X (holding registers)  1..8, 257..264, 4097..4144, 8193..8240   read and write
//   1X (discrete inputs)    1..16                       read only
//   0X (coils)              1..16                       read only, a mirror of 1X 1..16
// An access must lie entirely inside one block of its area, otherwise it is an illegal
// data address.
//
// Meanings:
//   3X 1 PV1, 2 PV2, 3 SV1, 4 SV2 (working set values), 5/6 retransmission outputs in tenths
//   of a percent, 7/8 alarm 1/2 modes (copies of 4X 4129/4130).
//   3X 4097 program state (0 stopped, 1 running, 2 paused, 3 ended), 4098 PV1, 4099 SV1,
//   4100 PV2, 4101 SV2, 4102 segment number, 4103 segment time left, 4104 total time left
//   (both in the program's time unit, rounded up), 4105 cycles done, 4106..4112 zero.
//   4X 1/2 SV1/SV2 settings, 4X 3 program command, 4X 257..262 alarm settings,
//   4X 4097..4144 configuration, 4X 8193..8240 program block.
//   1X 1/2 control outputs, 1X 3/4 alarms, 1X 5/6 sensor open, the rest 0.
//
// Program command 4X 3: 0 stop, 1 run (or resume from pause), 2 pause, 3 end. After a
// command 0..3 the register holds the resulting state, so it always reads back the state
// (pause while stopped reads back 0; a program that ends by itself sets it to 3). Other
// values are stored and change nothing.
//
// Program rules:
//   - run from stopped or ended starts segment 1 from the start value (4X 8197: 0 the
//     measured PV, 1 the SV settings 4X 1/2) and resets the cycle count;
//   - segment k ramps the working SVs linearly from the previous targets to its own targets
//     over its time (4X 8199+4k, in the unit of 4X 8193: 0 hours, 1 minutes, 2 seconds;
//     other unit codes count as minutes; negative times count as 0);
//   - after the last segment (4X 8194 + 1, clamped to 1..8) one cycle is done; with 4X 8195
//     zero or negative the program cycles endlessly, otherwise it ends after that many
//     cycles. A new cycle ramps from the last segment's targets to segment 1's targets;
//   - paused: time stands still and the working SVs hold;
//   - stopped: the working SVs are the settings 4X 1/2;
//   - ended: with 4X 8198 = 1 the working SVs keep their last value; otherwise they are 0
//     and both control outputs are off ("output zero").
// Control outputs heat: on while PV < SV - hysteresis (4X 4121/4125, negative counts as 0),
// off once PV >= SV, unchanged in between. With the sensor of a loop open the output takes
// the open-input state of 4X 4124/4128 (1 closed = on).
// Alarms (mode 4X 4129/4130, set value 4X 257/260, hysteresis 4X 258/261, loop 4X 4131/4132
// with 1 = loop 2, anything else loop 1), x being the watched quantity:
//   1 high limit x = PV, 2 low limit x = -PV and set value negated, 3 high deviation
//   x = PV - SV, 4 low deviation x = SV - PV, 5 band x = |PV - SV|; an alarm comes on when
//   x > set value and goes off when x <= set value - hysteresis. Mode 0 or unknown: off.
// Alarm delay times, output delays and protection times are stored but not simulated.
// PV readings include the input offset (4X 4109/4117) and a little seeded noise; an open
// sensor reads the input's upper limit (4X 4107/4115).

#include <cstdint>
#include <random>

namespace sim {

enum class Area { Coils, DiscreteInputs, InputRegisters, HoldingRegisters };

enum class Access { Ok, IllegalAddress, IllegalFunction };

enum class ProgramState { Stopped = 0, Running = 1, Paused = 2, Ended = 3 };

class Instrument {
  public:
    // Time constant of the first-order lag of both loops, in seconds.
    static constexpr double kTimeConstant = 10.0;

    explicit Instrument(uint32_t seed = 1);

    // True when registers or bits first..first+count-1 of the area all lie in one map block.
    static bool inMap(Area area, int first, int count);

    // Reads registers (3X or 4X) as 16-bit patterns.
    Access readRegisters(Area area, int first, int count, uint16_t* out) const;
    // Reads bits (1X or 0X), one byte 0/1 per bit.
    Access readBits(Area area, int first, int count, uint8_t* out) const;
    // Writes registers; only 4X is writable. Values are stored as 16-bit patterns.
    Access writeRegisters(Area area, int first, int count, const uint16_t* values);

    // Signed register values; 0 / false for numbers outside the map.
    int holdingRegister(int n) const;
    int inputRegister(int n) const;
    bool discreteInput(int n) const;
    bool coil(int n) const;
    // Stores the low 16 bits of value, as a write from a master would. False outside 4X.
    bool setHoldingRegister(int n, int value);
    // The slave address it is served at, as its own "通讯地址" register reports it.
    void setOwnAddress(int address);

    // Forces the sensor of loop ch (1 or 2) open or closed.
    void setSensorOpen(int ch, bool open);
    bool sensorOpen(int ch) const;

    // Simulated seconds per real second passed to step(). Values <= 0 are ignored.
    void setTimeScale(double factor);
    double timeScale() const { return timeScale_; }

    // Peak amplitude of the PV noise in register counts (default 0.5; 0 turns it off).
    void setNoise(double amplitude);

    // Sets the underlying process value of loop ch (1 or 2), e.g. to test alarms.
    void setProcessValue(int ch, double value);
    // SV1 30 and SV2 50 with both loops some way below them, so a demonstration's chart shows
    // them rising towards their set values. A non-zero offset moves SV1 and PV1 up and SV2 and
    // PV2 down by that much, so that several demonstration instruments tell apart.
    void startAsDemo(int offset = 0);
    double processValue(int ch) const;

    ProgramState programState() const { return state_; }

    // Advances the simulation by seconds of real time (times the time scale) and refreshes
    // every derived register. step(0) only refreshes.
    void step(double seconds);

  private:
    uint16_t* holdingSlot(int n);
    const uint16_t* holdingSlot(int n) const;
    int hr(int n) const { return holdingRegister(n); }
    void command(int value);
    void startProgram();
    void advanceProgram(double dt);
    void finishSegment();
    int segmentCount() const;
    double unitSeconds() const;
    double segmentSeconds(int k) const;
    double segmentTarget(int k, int ch) const;
    double workingSv(int ch) const;
    int pvReading(int ch) const;
    void refresh();

    // Holding registers, one array per block.
    uint16_t hLow_[8] = {};
    uint16_t h257_[8] = {};
    uint16_t hConfig_[48] = {};
    uint16_t hProgram_[48] = {};
    // Derived input registers and bits.
    uint16_t inLow_[8] = {};
    uint16_t inHigh_[16] = {};
    bool bits_[16] = {};

    double pv_[2] = {250.0, 500.0};
    double noise_[2] = {};
    double noiseAmplitude_ = 0.5;
    bool sensorOpen_[2] = {};
    bool output_[2] = {};
    bool alarm_[2] = {};
    double timeScale_ = 1.0;
    std::mt19937 rng_;

    ProgramState state_ = ProgramState::Stopped;
    int segment_ = 0;          // 1-based while a program is running or paused
    double segElapsed_ = 0.0;  // seconds into the current segment
    double segStart_[2] = {};  // working SVs at the start of the current segment
    double heldSv_[2] = {};    // working SVs while paused or ended with "keep last SV"
    int cyclesDone_ = 0;
};

}  // namespace sim
