#include "FakeByteArray.h"

namespace fakearray {

Faults fail;
int live = 0;

void Reset() {
    fail = {};
}

tagSAFEARRAY* Make(std::vector<uint8_t> bytes) {
    ++live;
    return new tagSAFEARRAY{std::move(bytes)};
}

} // namespace fakearray

tagSAFEARRAY* ByteArrayCreate(uint32_t size) {
    if (fakearray::fail.create)
        return nullptr;
    // Filled with a pattern so that bytes the encoder fails to write are noticed.
    return fakearray::Make(std::vector<uint8_t>(size, 0xCD));
}

bool ByteArrayDestroy(tagSAFEARRAY* array) {
    if (fakearray::fail.destroy || array->locks)
        return false;
    --fakearray::live;
    delete array;
    return true;
}

bool ByteArrayLock(tagSAFEARRAY* array, uint8_t*& data, size_t& size) {
    if (fakearray::fail.lock)
        return false;
    ++array->locks;
    data = array->bytes.data();
    size = array->bytes.size();
    return true;
}

void ByteArrayUnlock(tagSAFEARRAY* array) {
    --array->locks;
}
