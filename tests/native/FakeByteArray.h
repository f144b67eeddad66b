#pragma once

// In-memory stand-in for the SAFEARRAY functions of paramblock/ByteArray.h, for the native build.

#include "paramblock/ByteArray.h"

#include <cstdint>
#include <vector>

struct tagSAFEARRAY {
    std::vector<uint8_t> bytes;
    int locks = 0;
};

namespace fakearray {

// Faults to inject into the next calls; Reset() clears them.
struct Faults {
    bool create = false;
    bool lock = false;
    bool destroy = false;
};
extern Faults fail;
// Arrays made by ByteArrayCreate or Make and not yet destroyed.
extern int live;

void Reset();
// An array as an outside owner (the session, an event) would hold it.
tagSAFEARRAY* Make(std::vector<uint8_t> bytes);

} // namespace fakearray
