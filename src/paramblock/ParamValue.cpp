#include "paramblock/ParamValue.h"

#include <bit>
#include <cstring>

// Payload bytes are little-endian on the wire and are copied there as they are held.
static_assert(std::endian::native == std::endian::little);

CParamValue::CParamValue(const CParamValue& other) {
    *this = other;
}

CParamValue& CParamValue::operator=(const CParamValue& other) {
    if (this == &other)
        return *this;
    if (other.m_kind == PK_TEXT)
        SetText(reinterpret_cast<const char*>(other.m_payload.buffer), other.m_length);
    else if (other.HasBuffer())
        SetRecord(other.m_kind, other.m_payload.buffer, other.m_length);
    else
        SetPayload(other.m_kind, other.m_payload.bytes, sizeof other.m_payload);
    return *this;
}

CParamValue::~CParamValue() {
    Clear();
}

bool CParamValue::IsRecordKind(uint32_t kind) {
    return kind == PK_RECORD5 || kind == PK_RECORD6 || kind == PK_RECORD21 || kind == PK_RECORD22;
}

uint32_t CParamValue::RecordSize(uint32_t kind) {
    switch (kind) {
    case PK_RECORD5:
        return 784;
    case PK_RECORD6:
        return 788;
    case PK_RECORD21:
        return 820;
    case PK_RECORD22:
        return 2228;
    default:
        return 0;
    }
}

void CParamValue::Clear() {
    if (HasBuffer() && !m_borrowed)
        delete[] m_payload.buffer;
    m_kind = PK_EMPTY;
    m_length = 0;
    m_borrowed = false;
    std::memset(&m_payload, 0, sizeof m_payload);
}

void CParamValue::SetPayload(uint32_t kind, const uint8_t* bytes, size_t count) {
    Clear();
    m_kind = kind;
    std::memcpy(m_payload.bytes, bytes, count < sizeof m_payload ? count : sizeof m_payload);
}

void CParamValue::SetBorrowed(uint32_t kind, uint8_t* bytes, uint32_t length) {
    Clear();
    m_kind = kind;
    m_length = length;
    m_payload.buffer = bytes;
    m_borrowed = true;
}

void CParamValue::SetBool(bool value) {
    Clear();
    m_kind = PK_BOOL;
    m_payload.bytes[0] = value ? 1 : 0;
}

void CParamValue::SetInt(int32_t value) {
    Clear();
    m_kind = PK_INT;
    std::memcpy(m_payload.bytes, &value, sizeof value);
}

void CParamValue::SetDouble(double value) {
    Clear();
    m_kind = PK_DOUBLE;
    std::memcpy(m_payload.bytes, &value, sizeof value);
}

void CParamValue::SetText(const char* text) {
    SetText(text, text ? std::strlen(text) : 0);
}

void CParamValue::SetText(const char* text, size_t count) {
    if (count > UINT32_MAX - 1) // the wire size, count + 1, is 32-bit
        count = UINT32_MAX - 1;
    // Allocate before clearing: the text may be our own (self-assignment through a pointer).
    uint8_t* copy = new uint8_t[count + 1];
    if (count)
        std::memcpy(copy, text, count);
    copy[count] = 0;
    Clear();
    m_kind = PK_TEXT;
    m_length = static_cast<uint32_t>(count);
    m_payload.buffer = copy;
}

void CParamValue::SetRecord(uint32_t kind, const void* bytes, uint32_t count) {
    if (!IsRecordKind(kind)) {
        Clear();
        return;
    }
    uint8_t* copy = new uint8_t[count];
    if (bytes)
        std::memcpy(copy, bytes, count);
    else
        std::memset(copy, 0, count);
    Clear();
    m_kind = kind;
    m_length = count;
    m_payload.buffer = copy;
}

void CParamValue::SetTypedRecord(uint32_t kind, const void* bytes) {
    SetRecord(kind, bytes, RecordSize(kind));
}

bool CParamValue::GetBool() const {
    if (m_kind == PK_BOOL)
        return m_payload.bytes[0] != 0;
    return GetInt() != 0;
}

int32_t CParamValue::GetInt() const {
    int32_t value;
    std::memcpy(&value, &m_payload, sizeof value);
    return value;
}

double CParamValue::GetDouble() const {
    if (m_kind == PK_DOUBLE) {
        double value;
        std::memcpy(&value, m_payload.bytes, sizeof value);
        return value;
    }
    return m_kind == PK_INT ? GetInt() : 0.0;
}

std::string CParamValue::GetText() const {
    if (m_kind != PK_TEXT)
        return {};
    return std::string(reinterpret_cast<const char*>(m_payload.buffer), m_length);
}

const uint8_t* CParamValue::Data() const {
    return HasBuffer() ? m_payload.buffer : nullptr;
}

uint32_t CParamValue::WireSize() const {
    if (m_kind == PK_TEXT)
        return m_length + 1;
    return IsRecordKind(m_kind) ? m_length : static_cast<uint32_t>(sizeof m_payload);
}

const uint8_t* CParamValue::WireData() const {
    return HasBuffer() ? m_payload.buffer : m_payload.bytes;
}
