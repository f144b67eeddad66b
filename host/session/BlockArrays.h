// Parameter blocks as the byte arrays that cross the session's COM boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>

class CParamBlock;

// A new array with the block's encoding; null when it cannot be made.
SAFEARRAY* ByteArrayFromBlock(const CParamBlock& block);
// Reads a request block. A null array is the empty block. Anything but the exact encoding of its
// values (a text without its NUL or with bytes after it, a short fixed value, trailing bytes) is
// refused with SE_BAD_INPUT, so what the device acts on is exactly what was sent.
void BlockFromByteArray(SAFEARRAY* array, CParamBlock& block);
