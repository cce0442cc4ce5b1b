#pragma once
// The shared settings array: the port settings the operator chose, the status of the last open and
// the staging slots writers put a value in just before sending it. UI thread only.

#include <array>
#include <cstdint>

namespace comm {

inline constexpr int kPortSlot = 0;         // port number 1..20
inline constexpr int kBaudSlot = 1;         // baud index: 0 = 4800, 1 = 9600, 2 = 19200
inline constexpr int kParitySlot = 2;       // parity index: 0 none, 1 odd, 2 even
inline constexpr int kAddressSlot = 3;      // slave address 1..16
inline constexpr int kListCodeSlot = 19;    // code of a list entry about to be written
inline constexpr int kOpenStatusSlot = 20;  // status of the last open (0 or -8888)
inline constexpr int kEntryValueSlot = 24;  // value of a main-window entry about to be written

struct CommParamsArray {
    // 501 slots: the data model reserves room beyond the few slots the program uses.
    std::array<int32_t, 501> v{};
    int32_t& operator()(int i) { return v.at(static_cast<size_t>(i)); }
    int32_t operator()(int i) const { return v.at(static_cast<size_t>(i)); }
};

}  // namespace comm
