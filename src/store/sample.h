#pragma once
// One sample as the ring and the archive take it.

#include <array>
#include <cstdint>

#include "store/schema.h"

namespace store {

struct Sample {
    int id = 0;                                       // w_id, 1..65500
    double date = 0;                                  // w_date: whole days since 1899-12-30
    double time = 0;                                  // w_time: fraction of a day, whole seconds
    std::array<float, schema::kValueCount> values{};  // LiveValues 0..9 when stored
    // The moment in UTC seconds since 1970, which the archive keys by. 0: the local date and
    // time above stand for it (a ring record read back, a sample made by hand).
    int64_t at = 0;
    // Taken while the instrument's values were stale (no register block read for a while): the
    // ring keeps it as any other, the archive marks its second.
    bool stale = false;
};

// A sample's moment in UTC seconds: its own, or its local date and time taken as local time.
int64_t sampleMoment(const Sample& s);

}  // namespace store
