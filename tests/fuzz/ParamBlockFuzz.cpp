// Device answers and typed texts must never crash the block or make it read outside its input, and whatever
// it accepts must survive its own encoding unchanged.

#include "paramblock/ParamBlock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void CheckRoundTrip(CParamBlock& block) {
    std::vector<uint8_t> bytes;
    block.Encode(bytes);
    CParamBlock again;
    again.Decode(bytes.data(), bytes.size());
    size_t count = block.Count();
    // Decoding stops at an empty value, so only a block without one must come back whole.
    size_t expected = 0;
    while (expected < count && block.At(expected).Kind() != PK_EMPTY)
        ++expected;
    bool same = again.Count() == expected;
    for (size_t i = 0; same && i < expected; ++i) {
        const CParamValue &a = block.At(i), &b = again.At(i);
        same = a.Kind() == b.Kind() && a.WireSize() == b.WireSize() &&
               std::memcmp(a.WireData(), b.WireData(), a.WireSize()) == 0;
    }
    if (!same) {
        std::fprintf(stderr, "round trip changed the block: %zu elements became %zu\n", count, again.Count());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy, so a read one byte past the answer is caught.
    std::vector<uint8_t> answer(data, data + size);
    CParamBlock block;
    block.Decode(answer.data(), answer.size());
    CheckRoundTrip(block);
    block.FormatText(true);

    std::string text(reinterpret_cast<const char*>(data), size);
    block.ParseText(text.c_str());
    CheckRoundTrip(block);
    block.FormatText(false);
    return 0;
}
