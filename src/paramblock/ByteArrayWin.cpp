#include "paramblock/ByteArray.h"

#include <windows.h>
#include <oleauto.h>

tagSAFEARRAY* ByteArrayCreate(uint32_t size) {
    return SafeArrayCreateVector(VT_UI1, 0, size);
}

bool ByteArrayDestroy(tagSAFEARRAY* array) {
    return SUCCEEDED(SafeArrayDestroy(array));
}

bool ByteArrayLock(tagSAFEARRAY* array, uint8_t*& data, size_t& size) {
    // Arrays from outside (event answers) are checked: only one dimension of single bytes is read.
    if (!array || SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1)
        return false;
    void* bytes = nullptr;
    if (FAILED(SafeArrayAccessData(array, &bytes)))
        return false;
    size = array->rgsabound[0].cElements;
    if (!bytes && size) { // a descriptor without its data
        SafeArrayUnaccessData(array);
        return false;
    }
    data = static_cast<uint8_t*>(bytes);
    return true;
}

void ByteArrayUnlock(tagSAFEARRAY* array) {
    SafeArrayUnaccessData(array);
}
