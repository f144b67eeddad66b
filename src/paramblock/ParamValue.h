#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Kinds of value a parameter block carries. The numbers are part of the byte encoding shared with the
// host's session component.
enum ParamKind : uint32_t {
    PK_EMPTY = 0,
    PK_BOOL = 1,
    PK_INT = 2,
    PK_TEXT = 3,
    PK_RECORD5 = 5, // one directory entry of a listing
    PK_RECORD6 = 6,
    PK_DOUBLE = 17,
    PK_RECORD21 = 21,
    PK_RECORD22 = 22,
    PK_END = 255, // terminates an encoded block; never held by a value
};

// One typed value of a parameter block: a kind, a length and an 8-byte payload that holds either the
// value itself or a pointer to its text or record. The value owns that text or record, except that a value
// decoded by a block and not changed since points into the block's store; a copy always owns its own.
class CParamValue {
public:
    CParamValue() = default;
    CParamValue(const CParamValue& other);
    CParamValue& operator=(const CParamValue& other);
    virtual ~CParamValue();

    static bool IsRecordKind(uint32_t kind);
    // The fixed size of the typed records (784, 788, 820, 2228), 0 for any other kind.
    static uint32_t RecordSize(uint32_t kind);

    void SetBool(bool value);
    void SetInt(int32_t value);
    void SetDouble(double value);
    void SetText(const char* text); // null sets the empty text
    void SetText(const char* text, size_t count);
    // Copies count bytes (zeros when bytes is null). A kind that is not a record kind leaves the value empty.
    void SetRecord(uint32_t kind, const void* bytes, uint32_t count);
    // Copies RecordSize(kind) bytes.
    void SetTypedRecord(uint32_t kind, const void* bytes);
    void Clear();

    uint32_t Kind() const { return m_kind; }
    uint32_t Length() const { return m_length; }
    bool GetBool() const;
    int32_t GetInt() const;
    double GetDouble() const;
    std::string GetText() const;
    // The owned text or record bytes; null for the kinds that hold their value in the payload.
    const uint8_t* Data() const;

    // What the byte encoding writes for this value after its kind and size.
    uint32_t WireSize() const;
    const uint8_t* WireData() const;

private:
    friend class CParamBlock;
    // Decoding keeps the payload bytes of a fixed-size kind exactly as received.
    void SetPayload(uint32_t kind, const uint8_t* bytes, size_t count);
    // Decoding points a text (NUL-terminated) or record at bytes the block holds for as long as the value.
    void SetBorrowed(uint32_t kind, uint8_t* bytes, uint32_t length);
    bool HasBuffer() const { return m_kind == PK_TEXT || IsRecordKind(m_kind); }

    uint32_t m_kind = PK_EMPTY;
    uint32_t m_length = 0;
    bool m_borrowed = false; // the buffer is the decoding block's, not ours to free
    union {
        uint8_t bytes[8];
        uint8_t* buffer; // text (NUL-terminated) or record, when HasBuffer()
    } m_payload = {};
};
