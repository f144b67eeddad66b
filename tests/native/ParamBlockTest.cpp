#include "FakeByteArray.h"
#include "paramblock/ParamBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Builds device answers by hand: 32-bit little-endian words and raw bytes.
struct Wire {
    Bytes b;
    Wire& u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    Wire& raw(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Wire& raw(const Bytes& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
};

Bytes Encoded(const CParamBlock& block) {
    Bytes out;
    block.Encode(out);
    return out;
}

// Decodes from a heap copy of exactly the given size, so the sanitizer sees any read past it.
void DecodeExact(CParamBlock& block, const Bytes& bytes) {
    auto* copy = new uint8_t[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), copy);
    block.Decode(copy, bytes.size());
    delete[] copy;
}

void ExpectSameElements(CParamBlock& a, CParamBlock& b) {
    ASSERT_EQ(a.Count(), b.Count());
    for (size_t i = 0; i < a.Count(); ++i) {
        const CParamValue &x = a.At(i), &y = b.At(i);
        ASSERT_EQ(x.Kind(), y.Kind()) << "element " << i;
        ASSERT_EQ(x.WireSize(), y.WireSize()) << "element " << i;
        EXPECT_EQ(0, std::memcmp(x.WireData(), y.WireData(), x.WireSize())) << "element " << i;
    }
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes r(n);
    for (size_t i = 0; i < n; ++i)
        r[i] = uint8_t(seed + i * 7);
    return r;
}

// A block with a value of every kind and an empty record.
void FillAllKinds(CParamBlock& block) {
    block.At(0).SetBool(true);
    block.At(1).SetInt(-123456);
    block.At(2).SetDouble(-2.75);
    block.At(3).SetText("path\\to,\"x\"");
    block.At(4).SetText("");
    int i = 5;
    for (uint32_t kind : {PK_RECORD5, PK_RECORD6, PK_RECORD21, PK_RECORD22})
        block.At(i++).SetTypedRecord(kind, Pattern(CParamValue::RecordSize(kind), uint8_t(kind)).data());
    block.At(i).SetRecord(PK_RECORD5, nullptr, 0);
}

class ParamBlockTest : public testing::Test {
protected:
    void SetUp() override { fakearray::Reset(); }
    void TearDown() override {
        fakearray::Reset();
        EXPECT_EQ(fakearray::live, 0) << "byte arrays leaked or destroyed twice";
    }
};

// --- values ---

TEST(ParamValueTest, SettersAndTheGettersOfEveryKind) {
    CParamValue v;
    EXPECT_EQ(v.Kind(), PK_EMPTY);
    EXPECT_FALSE(v.GetBool());
    EXPECT_EQ(v.WireSize(), 8u);

    v.SetBool(true);
    EXPECT_EQ(v.Kind(), PK_BOOL);
    EXPECT_EQ(v.GetInt(), 1);

    v.SetInt(-7);
    EXPECT_TRUE(v.GetBool()); // any other kind: bytes 0 to 3 not zero
    EXPECT_EQ(v.GetDouble(), -7.0);
    EXPECT_EQ(v.Data(), nullptr);
    EXPECT_EQ(Bytes(v.WireData(), v.WireData() + 8), (Bytes{0xF9, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));

    v.SetDouble(0.5); // 0x3FE0000000000000: the low four bytes are zero
    EXPECT_EQ(v.GetDouble(), 0.5);
    EXPECT_FALSE(v.GetBool());

    v.SetText("abc");
    EXPECT_EQ(v.Length(), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.WireData()), v.WireSize()), std::string("abc", 4));

    v.SetText(nullptr);
    EXPECT_EQ(v.Kind(), PK_TEXT);
    EXPECT_EQ(v.WireSize(), 1u);

    Bytes rec = Pattern(2228, 3);
    v.SetTypedRecord(PK_RECORD22, rec.data());
    EXPECT_EQ(v.WireSize(), 2228u);
    EXPECT_EQ(Bytes(v.Data(), v.Data() + 2228), rec);

    v.SetRecord(PK_INT, rec.data(), 4); // not a record kind
    EXPECT_EQ(v.Kind(), PK_EMPTY);
    EXPECT_EQ(v.Length(), 0u);
}

TEST(ParamValueTest, CopiesOwnTheirTextAndRecord) {
    CParamValue text, record, number;
    text.SetText("hello");
    Bytes rec = Pattern(784, 1);
    record.SetTypedRecord(PK_RECORD5, rec.data());
    number.SetDouble(3.25);

    CParamValue copy(text);
    text.SetText("changed");
    EXPECT_EQ(copy.GetText(), "hello");

    copy = record;
    record.Clear();
    EXPECT_EQ(copy.Kind(), PK_RECORD5);
    EXPECT_EQ(Bytes(copy.Data(), copy.Data() + copy.Length()), rec);

    CParamValue& alias = copy;
    copy = alias; // self-assignment keeps the record
    EXPECT_EQ(Bytes(copy.Data(), copy.Data() + copy.Length()), rec);
    copy = number;
    copy = alias;
    EXPECT_EQ(copy.GetDouble(), 3.25);
    copy.SetText(copy.GetText().c_str());
    EXPECT_EQ(copy.Kind(), PK_TEXT);
}

// --- encoding ---

TEST(ParamBlockEncodingTest, WorkedExamplesAndPaddingThatDecodingStopsAt) {
    CParamBlock block;
    EXPECT_EQ(Encoded(block), (Bytes{0xFF, 0, 0, 0}));

    block.At(0).SetInt(5);
    block.At(1).SetText("abc");
    Bytes expected{2, 0, 0, 0, 8, 0, 0, 0, 5,    0,    0,    0, 0,    0, 0, 0,
                   3, 0, 0, 0, 4, 0, 0, 0, 0x61, 0x62, 0x63, 0, 0xFF, 0, 0, 0};
    EXPECT_EQ(block.EncodedSize(), 32u);
    EXPECT_EQ(Encoded(block), expected);

    block.At(1).SetText("");
    Bytes emptyText = Encoded(block);
    EXPECT_EQ(Bytes(emptyText.begin() + 16, emptyText.end()),
              (Bytes{3, 0, 0, 0, 1, 0, 0, 0, 0, 0xFF, 0, 0, 0}));

    // At pads with empty values, which decoding stops at.
    CParamBlock padded;
    padded.At(3);
    EXPECT_EQ(padded.Count(), 4u);
    Bytes bytes = Encoded(padded);
    ASSERT_EQ(bytes.size(), 68u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Bytes(bytes.begin() + 16 * i, bytes.begin() + 16 * i + 16),
                  (Bytes{0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    DecodeExact(block, bytes); // decoding replaces what was there
    EXPECT_EQ(block.Count(), 0u);
}

// --- decoding untrusted answers ---

// A terminator, an unknown kind, or a size past the end (one that would wrap a 32-bit position back inside
// the array, or just past its end) stops decoding; earlier elements stay.
TEST(ParamBlockDecodeTest, StopsAtTerminatorUnknownKindOrSizePastTheEndKeepingEarlierElements) {
    CParamBlock block;
    DecodeExact(block, Wire().u32(255).u32(8).raw(Bytes(8)).b);
    EXPECT_EQ(block.Count(), 0u);

    Wire w;
    w.u32(PK_INT).u32(8).u32(42).u32(0);
    for (uint32_t stop : {0u, 18u, 0xFFFFFFFFu}) {
        DecodeExact(block,
                    Wire(w).u32(stop).u32(8).raw(Bytes(8)).u32(PK_INT).u32(8).raw(Bytes(8)).u32(255).b);
        ASSERT_EQ(block.Count(), 1u) << "kind " << stop;
        EXPECT_EQ(block.At(0).GetInt(), 42);
    }
    for (uint32_t size : {0xFFFFFFF8u, 13u}) {
        for (uint32_t kind : {PK_RECORD5, PK_INT}) {
            DecodeExact(block, Wire(w).u32(kind).u32(size).raw("twelve bytes").b);
            ASSERT_EQ(block.Count(), 1u) << kind << " size " << size;
            EXPECT_EQ(block.At(0).GetInt(), 42);
        }
    }
}

// Every kind round-trips; every truncation of the encoding decodes a prefix within bounds.
TEST(ParamBlockDecodeTest, EveryKindRoundTripsAndEveryTruncationDecodesAPrefix) {
    CParamBlock full;
    FillAllKinds(full);
    Bytes bytes = Encoded(full);
    CParamBlock block;
    size_t previous = 0;
    for (size_t n = 0; n <= bytes.size(); ++n) {
        DecodeExact(block, Bytes(bytes.begin(), bytes.begin() + n));
        size_t count = block.Count();
        ASSERT_GE(count, previous);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(block.At(i).Kind(), full.At(i).Kind());
            ASSERT_EQ(block.At(i).WireSize(), full.At(i).WireSize()) << "partial element kept at " << n;
        }
        previous = count;
    }
    ExpectSameElements(block, full);
}

TEST(ParamBlockDecodeTest, OddSizesKeepTheStreamInStep) {
    CParamBlock block;
    Wire w;
    w.u32(PK_TEXT).u32(3).raw("xyz");                             // no NUL inside its size
    w.u32(PK_INT).u32(2).raw(Bytes{0x34, 0x12});                  // fixed kind below 8 bytes
    w.u32(PK_INT).u32(12).u32(7).u32(0xAAAAAAAA).u32(0xBBBBBBBB); // more than 8
    w.u32(PK_RECORD6).u32(3).raw("rec");                          // shorter than the typed size
    DecodeExact(block, w.u32(255).b);
    ASSERT_EQ(block.Count(), 4u);
    EXPECT_EQ(block.At(0).GetText(), "xyz");
    EXPECT_EQ(block.At(1).GetInt(), 0x1234);
    EXPECT_EQ(block.At(2).GetInt(), 7);
    EXPECT_EQ(block.At(3).Length(), 3u);

    // Whatever was accepted encodes canonically and decodes to the same again.
    CParamBlock again;
    DecodeExact(again, Encoded(block));
    ExpectSameElements(block, again);
}

// Decoded texts and records sit in storage the block reuses for its next answer: copies must not share it
// and changing a decoded value must not free it.
TEST(ParamBlockDecodeTest, DecodedValuesOutliveTheNextAnswerOnlyAsCopies) {
    const Bytes record = Pattern(784, 3);
    auto answer = [&](const char* text) {
        return Wire().u32(PK_TEXT).u32(6).raw(std::string(text, 6)).u32(PK_RECORD5).u32(784).raw(record).b;
    };
    CParamBlock block;
    DecodeExact(block, answer("first"));
    CParamValue text = block.At(0), rec;
    rec = block.At(1);
    block.At(1).SetText("changed");
    DecodeExact(block, answer("again")); // same size: the storage is reused
    EXPECT_EQ(block.At(0).GetText(), "again");
    EXPECT_EQ(Bytes(block.At(1).Data(), block.At(1).Data() + 784), record);
    block.Clear(true);
    EXPECT_EQ(text.GetText(), "first");
    EXPECT_EQ(Bytes(rec.Data(), rec.Data() + rec.Length()), record);
}

// --- the byte array around a session call ---

// What a session does with the array field it receives: answer with its own array.
void CalleeAnswers(tagSAFEARRAY** field, const Bytes& answer) {
    ASSERT_NE(*field, nullptr);
    uint8_t* data;
    size_t size;
    ASSERT_TRUE(ByteArrayLock(*field, data, size)); // the session reads the request first
    ByteArrayUnlock(*field);
    ASSERT_TRUE(ByteArrayDestroy(*field));
    *field = fakearray::Make(answer);
}

TEST_F(ParamBlockTest, ExportHandsOutTheEncodingAndReadingAfterTheCallDecodesTheAnswer) {
    CParamBlock input, output;
    input.At(0).SetText("\\cf0\\");
    tagSAFEARRAY** in = input.ExportArray();
    ASSERT_EQ(in, input.ExportArray()); // always the same field; the earlier array is destroyed
    ASSERT_NE(*in, nullptr);
    EXPECT_EQ((*in)->bytes, Encoded(input));
    EXPECT_EQ((*in)->locks, 0);
    tagSAFEARRAY** out = output.ExportArray();
    EXPECT_EQ(fakearray::live, 2);
    CalleeAnswers(
        out,
        Wire().u32(PK_INT).u32(8).u32(77).u32(0).u32(PK_TEXT).u32(2).raw(std::string("a\0", 2)).u32(255).b);

    // Visited, the answer is read where it lies and stays there undecoded.
    std::vector<std::pair<uint32_t, Bytes>> seen;
    output.VisitElements([&](uint32_t kind, const uint8_t* data, uint32_t length) {
        seen.push_back({kind, Bytes(data, data + length)});
    });
    EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, Bytes>>{{PK_INT, {77, 0, 0, 0, 0, 0, 0, 0}}, {PK_TEXT, {'a'}}}));
    EXPECT_NE(output.Array(), nullptr);
    EXPECT_EQ(output.HandedOut(), 1u);

    EXPECT_EQ(output.Count(), 2u);
    EXPECT_EQ(output.At(0).GetInt(), 77);
    EXPECT_EQ(output.At(1).GetText(), "a");
    EXPECT_EQ(output.Array(), nullptr);
    EXPECT_EQ(output.HandedOut(), 0u);

    // An input the callee left in place reads back as it was, and its array is released too.
    EXPECT_EQ(input.FormatText(false), "\"\\cf0\\\"");
    EXPECT_EQ(*in, nullptr);
    EXPECT_EQ(fakearray::live, 0);

    // Once read, later changes are not overwritten by a stale array.
    output.At(0).SetInt(5);
    EXPECT_EQ(output.At(0).GetInt(), 5);
}

// Clear(true), an import, a parse or an answer drop the held array; a null import and Clear(false) keep it.
TEST_F(ParamBlockTest, TheHeldArrayGoesOnlyWithTheElementsAndOutsideArraysStayTheirOwners) {
    CParamBlock block;
    block.At(0).SetText("old");
    block.ExportArray();
    block.ImportArray(nullptr);
    EXPECT_NE(block.Array(), nullptr);
    block.Clear(false);
    EXPECT_NE(block.Array(), nullptr);

    tagSAFEARRAY* event = fakearray::Make(Wire().u32(PK_BOOL).u32(8).u32(1).u32(0).u32(255).b);
    ASSERT_EQ(fakearray::live, 2);
    block.ImportArray(event);
    EXPECT_EQ(block.Count(), 1u);
    EXPECT_TRUE(block.At(0).GetBool());
    EXPECT_EQ(block.Array(), nullptr); // the block's own array went
    EXPECT_EQ(fakearray::live, 1);     // the event's did not
    EXPECT_EQ(event->locks, 0);
    EXPECT_TRUE(ByteArrayDestroy(event));

    block.ExportArray();
    block.Clear(true);
    EXPECT_EQ(block.Array(), nullptr);
    EXPECT_EQ(block.HandedOut(), 0u);
    EXPECT_EQ(fakearray::live, 0);

    block.At(0).SetInt(1);
    block.ExportArray();
    block.ParseText("2");
    EXPECT_EQ(block.Array(), nullptr);
    EXPECT_EQ(block.At(0).GetInt(), 2);

    // At appends to the answer, not to the stale elements.
    block.At(1).SetInt(2);
    CalleeAnswers(block.ExportArray(), Wire().u32(255).b);
    block.At(0).SetInt(3);
    EXPECT_EQ(block.Count(), 1u);

    block.ExportArray(); // the destructor releases what is left
}

TEST_F(ParamBlockTest, ArraysThatCannotBeMadeLeaveTheCalleeANullField) {
    CParamBlock block;
    block.At(0).SetInt(8);

    fakearray::fail.create = true;
    tagSAFEARRAY** field = block.ExportArray();
    EXPECT_EQ(*field, nullptr);
    EXPECT_EQ(block.HandedOut(), 1u);
    EXPECT_EQ(block.Count(), 1u); // nothing came back: the elements stay
    fakearray::Reset();

    // A held array that cannot be destroyed is not replaced and not handed out again.
    tagSAFEARRAY* stuck = *block.ExportArray();
    fakearray::fail.destroy = true;
    EXPECT_EQ(*block.ExportArray(), nullptr);
    EXPECT_EQ(fakearray::live, 1);
    fakearray::Reset();
    EXPECT_TRUE(ByteArrayDestroy(stuck));

    // An array that cannot be read imports as empty.
    block.ExportArray();
    fakearray::fail.lock = true;
    EXPECT_EQ(block.Count(), 0u);
    EXPECT_EQ(block.Array(), nullptr);
}

// --- text form ---

// Each value the text parses to as FormatText(true) writes it (which shows its kind), joined by " | ".
std::string Parsed(const char* text) {
    CParamBlock block, one;
    block.ParseText(text);
    std::string out;
    for (size_t i = 0; i < block.Count(); ++i) {
        one.At(0) = block.At(i);
        out += (i ? " | " : "") + one.FormatText(true);
    }
    return out;
}

TEST(ParamBlockTextTest, ParsesTokensByShape) {
    const std::pair<const char*, const char*> cases[] = {
        {"1,2.5,TRUE,\"a,b\",0x1F", "1 | 2.5000 | TRUE | \"a,b\" | 31"},
        {"+,-,true,FaLsE", "TRUE | FALSE | TRUE | FALSE"},
        {"truex,+5e3,0x1G", "\"truex\" | \"+5e3\" | \"0x1G\""},
        // Hexadecimal as scanf reads it.
        {"0X1f,0xffffffff,1x5,Ax1,-x1", "31 | -1 | 1 | 10 | 0"},
        {"99999999999,-99999999999", "2147483647 | -2147483648"},
        // A quoted token ends at the next quote, so four quotes are two empty texts.
        {"\"\",\"\"\"\",\"x", "\"\" | \"\" | \"\" | \"x\""},
        {" 1\t\r\n \n", "\" 1\""}, // trailing blanks go, leading ones stay
        {",,,7,,", "7"},
        {nullptr, ""},
    };
    for (const auto& [text, values] : cases)
        EXPECT_EQ(Parsed(text), values) << (text ? text : "(null)");
}

TEST(ParamBlockTextTest, FormatsWithAndWithoutWords) {
    CParamBlock block;
    block.At(0).SetBool(true);
    block.At(1).SetInt(7);
    block.At(2).SetText("ab");
    block.At(3).SetDouble(1.5);
    EXPECT_EQ(block.FormatText(true), "TRUE,7,\"ab\",1.5000");
    EXPECT_EQ(block.FormatText(false), "+,7,\"ab\",1.5000");

    // Empty values and records write nothing, not even a separator; quotes are not escaped.
    CParamBlock mixed;
    mixed.At(1).SetBool(false);
    mixed.At(2).SetTypedRecord(PK_RECORD5, Pattern(784, 0).data());
    mixed.At(3).SetText("say \"hi\"");
    mixed.At(5).SetDouble(-0.00004);
    EXPECT_EQ(mixed.FormatText(false), "-,\"say \"hi\"\",-0.0000");

    block.ParseText(block.FormatText(true).c_str()); // the text form reads back
    EXPECT_EQ(block.FormatText(false), "+,7,\"ab\",1.5000");
}

} // namespace
