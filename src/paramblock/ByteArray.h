#pragma once

#include <cstddef>
#include <cstdint>

// A parameter block crosses the COM boundary as a one-dimensional SAFEARRAY of VT_UI1. The block reaches
// such arrays only through these functions: OLE Automation implements them on Windows
// (ByteArrayWin.cpp), the native tests link an in-memory stand-in that can also fail on request.
struct tagSAFEARRAY;

// A new array of size bytes with lower bound 0; null on failure.
tagSAFEARRAY* ByteArrayCreate(uint32_t size);
// False when the array could not be destroyed (it is locked, for one).
bool ByteArrayDestroy(tagSAFEARRAY* array);
// Locks the array's bytes for access; false (nothing locked) unless it is a one-dimensional byte array.
bool ByteArrayLock(tagSAFEARRAY* array, uint8_t*& data, size_t& size);
void ByteArrayUnlock(tagSAFEARRAY* array);
