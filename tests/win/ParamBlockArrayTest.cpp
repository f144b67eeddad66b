// The parameter block's byte array with the real OLE Automation SAFEARRAY functions: what a session
// component receives, what it may leave behind, and who destroys which array.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "paramblock/ParamBlock.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ArrayBytes(SAFEARRAY* array) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data)))
        return {};
    Bytes bytes(static_cast<unsigned char*>(data),
                static_cast<unsigned char*>(data) + array->rgsabound[0].cElements);
    SafeArrayUnaccessData(array);
    return bytes;
}

// An answer array as a session component makes it: SafeArrayCreate with the given lower bound.
SAFEARRAY* MakeAnswer(const Bytes& bytes, LONG lowerBound = 0) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), lowerBound};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    return array;
}

// [integer 77, text "ok"]
const Bytes kAnswer{2, 0, 0, 0, 8, 0, 0, 0, 77,  0,   0, 0,    0, 0, 0, 0,
                    3, 0, 0, 0, 3, 0, 0, 0, 'o', 'k', 0, 0xFF, 0, 0, 0};

TEST(ParamBlockArrayTest, ExportGivesTheCalleeAOneDimensionalByteArray) {
    CParamBlock block;
    block.At(0).SetInt(5);
    block.At(1).SetText("abc");
    SAFEARRAY** field = block.ExportArray();
    ASSERT_NE(*field, nullptr);

    VARTYPE type = VT_EMPTY;
    EXPECT_TRUE(SUCCEEDED(SafeArrayGetVartype(*field, &type)));
    EXPECT_EQ(type, VT_UI1);
    EXPECT_EQ(SafeArrayGetDim(*field), 1u);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(*field, 1, &lower);
    SafeArrayGetUBound(*field, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 31);
    Bytes expected;
    block.Encode(expected);
    EXPECT_EQ(ArrayBytes(*field), expected);
}

TEST(ParamBlockArrayTest, CountReadsTheArrayTheCalleeLeft) {
    CParamBlock output;
    SAFEARRAY** field = output.ExportArray();
    // The callee replaces the request with its answer, the way a [in, out] SAFEARRAY* parameter works.
    ASSERT_TRUE(SUCCEEDED(SafeArrayDestroy(*field)));
    *field = MakeAnswer(kAnswer, 3); // a lower bound other than 0 changes nothing

    ASSERT_EQ(output.Count(), 2u);
    EXPECT_EQ(output.At(0).GetInt(), 77);
    EXPECT_EQ(output.At(1).GetText(), "ok");
    EXPECT_EQ(output.Array(), nullptr);
}

TEST(ParamBlockArrayTest, OutsideArraysAreNotDestroyed) {
    SAFEARRAY* event = MakeAnswer(kAnswer);
    CParamBlock block;
    block.ImportArray(event);
    EXPECT_EQ(block.Count(), 2u);
    // Still the owner's: usable and destroyable exactly once, by the owner.
    EXPECT_EQ(ArrayBytes(event), kAnswer);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(event)));

    // Arrays that are not one dimension of single bytes are not read.
    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 8);
    block.ImportArray(longs);
    EXPECT_EQ(block.Count(), 0u);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(longs)));
}

TEST(ParamBlockArrayTest, ALockedArrayIsNotHandedOutAgain) {
    CParamBlock block;
    block.At(0).SetBool(true);
    SAFEARRAY* held = *block.ExportArray();
    ASSERT_TRUE(SUCCEEDED(SafeArrayLock(held)));

    // SafeArrayDestroy refuses a locked array, so no new array is made and the callee gets none.
    EXPECT_EQ(*block.ExportArray(), nullptr);
    EXPECT_EQ(block.Count(), 1u);

    SafeArrayUnlock(held);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(held)));
}

} // namespace
