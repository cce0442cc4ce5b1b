#pragma once
// The instrument's readings by name: where each value of a loop, an alarm and the program status
// sits in the image the poll cycle fills, and accessors that read them from it. Loops and alarms
// are numbered 0 and 1.

#include <array>
#include <cstddef>
#include <cstdint>

#include "comm/image.h"

namespace instrument {

// Live values (3X 1..8, then the control outputs as 100 on / 0 off).
namespace live {
inline constexpr size_t kPv[2] = {0, 1};          // measured value, 3X 1 / 3X 2
inline constexpr size_t kSv[2] = {2, 3};          // working set value, 3X 3 / 3X 4
inline constexpr size_t kRetransmit[2] = {4, 5};  // retransmission output in tenths of a percent
inline constexpr size_t kAlarmType[2] = {6, 7};   // alarm type code, 3X 7 / 3X 8
inline constexpr size_t kOutput[2] = {8, 9};      // control output, 100 on, 0 off
// The values a sample keeps: 0..9.
inline constexpr size_t kSampled = 10;
}  // namespace live

// Discrete inputs (1X 1..6): the states the panel shows, in its order.
namespace bits {
inline constexpr size_t kOutput[2] = {0, 1};  // control output on
inline constexpr size_t kAlarm[2] = {2, 3};   // alarm on
inline constexpr size_t kSensor[2] = {4, 5};  // sensor open
inline constexpr size_t kStates = 6;
}  // namespace bits

// Program status group (3X 4097..4105).
namespace program {
inline constexpr size_t kState = 0;             // 3X 4097, the program state's code
inline constexpr size_t kSegment = 5;           // 3X 4102
inline constexpr size_t kSegmentRemaining = 6;  // 3X 4103
inline constexpr size_t kTotalRemaining = 7;    // 3X 4104
inline constexpr size_t kCycles = 8;            // 3X 4105
inline constexpr size_t kGroup = 9;             // 3X 4097..4105
}  // namespace program

// Holding registers the operator writes (4X).
namespace holding {
inline constexpr int32_t kSetValue[2] = {1, 2};  // working set value of each loop
inline constexpr int32_t kProgramCommand = 3;    // 0 stop, 1 run, 2 pause, 3 end
inline constexpr int32_t kAlarmSettingFirst = 257, kAlarmSettingLast = 262;  // 4X 257..262
inline constexpr int32_t kConfigurationFirst = 4097, kConfigurationLast = 4144;
inline constexpr int32_t kProgramFirst = 8193, kProgramLast = 8231;  // settings and segments
// What an entry box may write: -1999..9999.
inline constexpr int32_t kEntryMin = -1999, kEntryMax = 9999;
}  // namespace holding

inline float pv(const comm::InstrumentImage& im, int loop) {
    return im.LiveValues[live::kPv[loop]];
}
inline float sv(const comm::InstrumentImage& im, int loop) {
    return im.LiveValues[live::kSv[loop]];
}
// The retransmission output in percent (the register counts tenths).
inline float retransmitPct(const comm::InstrumentImage& im, int loop) {
    return im.LiveValues[live::kRetransmit[loop]] / 10.0f;
}
inline float alarmTypeCode(const comm::InstrumentImage& im, int alarm) {
    return im.LiveValues[live::kAlarmType[alarm]];
}
inline bool outputOn(const comm::InstrumentImage& im, int loop) {
    return im.DiscreteBits[bits::kOutput[loop]] != 0;
}
inline bool alarmOn(const comm::InstrumentImage& im, int alarm) {
    return im.DiscreteBits[bits::kAlarm[alarm]] != 0;
}
inline bool sensorOpen(const comm::InstrumentImage& im, int loop) {
    return im.DiscreteBits[bits::kSensor[loop]] != 0;
}
inline int32_t programCode(const comm::InstrumentImage& im) {
    return im.InputRegsHigh[program::kState];
}
inline int32_t programSegment(const comm::InstrumentImage& im) {
    return im.InputRegsHigh[program::kSegment];
}
// The values a sample keeps.
inline std::array<float, live::kSampled> sampledValues(const comm::InstrumentImage& im) {
    std::array<float, live::kSampled> v{};
    for (size_t i = 0; i < live::kSampled; ++i)
        v[i] = im.LiveValues[i];
    return v;
}

}  // namespace instrument
