#include "BlockArrays.h"

#include "DeviceError.h"

#include "paramblock/ByteArray.h"
#include "paramblock/ParamBlock.h"

SAFEARRAY* ByteArrayFromBlock(const CParamBlock& block) {
    const uint64_t size = block.EncodedSize();
    if (size > 0xFFFFFFFFu)
        return nullptr;
    SAFEARRAY* array = ByteArrayCreate(static_cast<uint32_t>(size));
    uint8_t* data = nullptr;
    size_t length = 0;
    if (!array || !ByteArrayLock(array, data, length)) {
        ByteArrayDestroy(array);
        return nullptr;
    }
    block.EncodeTo(data);
    ByteArrayUnlock(array);
    return array;
}

void BlockFromByteArray(SAFEARRAY* array, CParamBlock& block) {
    block.Clear(true);
    if (!array)
        return;
    uint8_t* data = nullptr;
    size_t size = 0;
    if (!ByteArrayLock(array, data, size))
        throw CDeviceError(SE_BAD_INPUT, "The request block is not a byte array.");
    block.Decode(data, size);
    ByteArrayUnlock(array);
    if (block.EncodedSize() != size)
        throw CDeviceError(SE_BAD_INPUT, "The request block is malformed.");
}
