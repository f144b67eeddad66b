// The parameter block's byte array with the real OLE Automation SAFEARRAY functions: what a session
// component receives, what it may leave behind, and who destroys which array. The block's own handling
// of the array (faults included) is checked natively with a stand-in for these functions.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "paramblock/ParamBlock.h"

namespace {

// [integer 77, text "ok"], as a session component makes an answer: SafeArrayCreate with a lower bound.
SAFEARRAY* MakeAnswer(LONG lowerBound) {
    const unsigned char bytes[] = {2, 0, 0, 0, 8, 0, 0, 0, 77,  0,   0, 0,    0, 0, 0, 0,
                                   3, 0, 0, 0, 3, 0, 0, 0, 'o', 'k', 0, 0xFF, 0, 0, 0};
    SAFEARRAYBOUND bound{sizeof bytes, lowerBound};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes, sizeof bytes);
        SafeArrayUnaccessData(array);
    }
    return array;
}

TEST(ParamBlockArrayTest, ExportGivesTheCalleeAOneDimensionalByteArrayAndReadsWhatItLeft) {
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
    std::vector<uint8_t> expected;
    block.Encode(expected);
    EXPECT_EQ(std::memcmp((*field)->pvData, expected.data(), expected.size()), 0);

    // The callee replaces the request with its answer, the way a [in, out] SAFEARRAY* parameter works;
    // a lower bound other than 0 changes nothing.
    ASSERT_TRUE(SUCCEEDED(SafeArrayDestroy(*field)));
    *field = MakeAnswer(3);
    ASSERT_EQ(block.Count(), 2u);
    EXPECT_EQ(block.At(0).GetInt(), 77);
    EXPECT_EQ(block.At(1).GetText(), "ok");
}

// An imported array staying its owner's is the block's logic, checked natively; here the real functions
// refuse arrays not of single bytes, and a locked array, so the callee gets no array.
TEST(ParamBlockArrayTest, ArraysNotOfBytesAreNotReadAndALockedArrayIsNotHandedOutAgain) {
    CParamBlock block;
    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 8);
    block.ImportArray(longs);
    EXPECT_EQ(block.Count(), 0u);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(longs)));

    block.At(0).SetBool(true);
    SAFEARRAY* held = *block.ExportArray();
    ASSERT_TRUE(SUCCEEDED(SafeArrayLock(held)));
    EXPECT_EQ(*block.ExportArray(), nullptr);
    EXPECT_EQ(block.Count(), 1u);
    SafeArrayUnlock(held);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(held)));
}

} // namespace
