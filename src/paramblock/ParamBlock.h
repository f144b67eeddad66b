#pragma once

#include "paramblock/ParamValue.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct tagSAFEARRAY;

// The ordered list of typed values that carries the input and the answer of a session request, and the
// byte array (SAFEARRAY of VT_UI1) it travels in.
//
// Around a session call the block hands the address of its array field to the callee (ExportArray), which
// may replace the array with its answer. The next Count, At or FormatText re-reads whatever array the
// callee left there, so one block serves as input and as answer.
class CParamBlock {
public:
    CParamBlock() = default;
    CParamBlock(const CParamBlock&) = delete;
    CParamBlock& operator=(const CParamBlock&) = delete;
    virtual ~CParamBlock();

    size_t Count();
    // Element index, appended as empty values up to index when the block is shorter.
    CParamValue& At(size_t index);
    void Clear(bool withArray);

    // Encodes the block into a fresh array held by the block and returns the address of the array field
    // for the callee. When the array cannot be made, the field is null.
    tagSAFEARRAY** ExportArray();
    // Replaces the elements by those decoded from array (null only empties them). Afterwards the block
    // holds no array of its own; an array from outside stays its owner's.
    void ImportArray(tagSAFEARRAY* array);
    // Re-reads the array if its address was handed out since the last export.
    void Synchronise();

    std::string FormatText(bool words);
    void ParseText(const char* text);

    // The byte encoding: per element its kind, size and data (32-bit little-endian), then 255.
    uint64_t EncodedSize() const;
    void EncodeTo(uint8_t* out) const; // writes exactly EncodedSize() bytes
    void Encode(std::vector<uint8_t>& out) const;
    // Replaces the elements (the array is left alone). Stops quietly at the terminator, at an unknown
    // kind, and at anything that does not lie wholly inside the bytes.
    void Decode(const uint8_t* data, size_t size);

    // An element as it lies in an encoding: its kind and its bytes (a text's without anything after its
    // first NUL, a fixed value's payload as sent, whatever its size).
    using ElementVisitor = std::function<void(uint32_t kind, const uint8_t* data, uint32_t length)>;
    // Each element of the encoded bytes under the rules Decode keeps, read in place.
    static void VisitEncoded(const uint8_t* data, size_t size, const ElementVisitor& visit);
    // Each element of the block. An answer the callee left in the array is read there, not decoded into
    // the block first: a listing of 100,000 records is then never held twice. The block is unchanged.
    void VisitElements(const ElementVisitor& visit);

    tagSAFEARRAY* Array() const { return m_array; }
    uint32_t HandedOut() const { return m_handedOut; }

private:
    // The texts and records of the decoded elements, one after another, so that decoding a long answer
    // allocates once rather than per element. Kept for the next answer of a similar size (a block that is
    // re-read after every call) until Clear(true) or destruction.
    std::unique_ptr<uint8_t[]> m_store;
    size_t m_storeSize = 0;
    // Held by value; a deque, because At hands out references that callers keep while appending more.
    std::deque<CParamValue> m_elements;
    tagSAFEARRAY* m_array = nullptr;
    uint32_t m_handedOut = 0;
};
