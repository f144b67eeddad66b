#include "paramblock/ParamBlock.h"

#include "paramblock/AsciiCase.h"
#include "paramblock/ByteArray.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

uint32_t GetU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint8_t* PutU32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, sizeof v);
    return p + sizeof v;
}

bool IsFixedKind(uint32_t kind) {
    return kind == PK_BOOL || kind == PK_INT || kind == PK_DOUBLE;
}

bool OnlyOf(std::string_view token, std::string_view allowed) {
    return token.find_first_not_of(allowed) == std::string_view::npos;
}

// Decimal integer as the Windows CRT's atoi reads it: sign, digits, saturated at the 32-bit limits.
int32_t DecimalInt(std::string_view token) {
    long long v = std::strtoll(std::string(token).c_str(), nullptr, 10);
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

// Hexadecimal integer as sscanf's "%x" reads it: sign, optional 0x, hex digits. Without any digit the value
// is 0; too many digits saturate at 0xFFFFFFFF before the sign applies.
int32_t HexInt(std::string_view t) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    if (i + 2 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X') && digit(t[i + 2]) >= 0)
        i += 2;
    uint64_t v = 0;
    for (; i < t.size() && digit(t[i]) >= 0; ++i)
        v = std::min<uint64_t>(v * 16 + digit(t[i]), UINT32_MAX);
    uint32_t u = static_cast<uint32_t>(v);
    return static_cast<int32_t>(negative ? 0u - u : u);
}

void ParseToken(std::string_view t, CParamValue& value) {
    if (t == "+" || t == "-" || EqualsIgnoreCase(t, "TRUE") || EqualsIgnoreCase(t, "FALSE")) {
        value.SetBool(t == "+" || EqualsIgnoreCase(t, "TRUE"));
    } else if (OnlyOf(t, "0123456789-+.")) {
        if (t.find('.') != std::string_view::npos)
            value.SetDouble(std::strtod(std::string(t).c_str(), nullptr));
        else
            value.SetInt(DecimalInt(t));
    } else if (t.size() > 1 && (t[1] == 'x' || t[1] == 'X') && OnlyOf(t, "0123456789-+xXAaBbCcDdEeFf")) {
        value.SetInt(HexInt(t));
    } else {
        size_t first = t.find_first_not_of('"');
        if (first == std::string_view::npos) {
            value.SetText("");
        } else {
            t = t.substr(first, t.find_last_not_of('"') + 1 - first);
            value.SetText(t.data(), t.size());
        }
    }
}

} // namespace

CParamBlock::~CParamBlock() {
    Clear(true);
}

size_t CParamBlock::Count() {
    Synchronise();
    return m_elements.size();
}

CParamValue& CParamBlock::At(size_t index) {
    Synchronise();
    if (index >= m_elements.size())
        m_elements.resize(index + 1);
    return m_elements[index];
}

void CParamBlock::Clear(bool withArray) {
    m_elements.clear();
    if (withArray) {
        m_store.reset();
        m_storeSize = 0;
        if (m_array)
            ByteArrayDestroy(m_array);
        m_array = nullptr;
        m_handedOut = 0;
    }
}

tagSAFEARRAY** CParamBlock::ExportArray() {
    m_handedOut = 0;
    bool destroyed = true;
    if (m_array) {
        // A held array that cannot be destroyed (still locked by someone) is let go all the same: handing
        // its address out again would let the callee read the previous call's bytes.
        destroyed = ByteArrayDestroy(m_array);
        m_array = nullptr;
    }
    uint64_t size = EncodedSize();
    if (destroyed && size <= UINT32_MAX)
        m_array = ByteArrayCreate(static_cast<uint32_t>(size));
    if (m_array) {
        uint8_t* data = nullptr;
        size_t capacity = 0; // stays 0, never a block's size, when locking fails
        if (ByteArrayLock(m_array, data, capacity)) {
            if (capacity == size)
                EncodeTo(data);
            ByteArrayUnlock(m_array);
        }
        if (capacity != size) {
            ByteArrayDestroy(m_array);
            m_array = nullptr;
        }
    }
    ++m_handedOut;
    return &m_array;
}

void CParamBlock::ImportArray(tagSAFEARRAY* array) {
    Clear(false);
    if (!array)
        return;
    uint8_t* data = nullptr;
    size_t size = 0;
    if (ByteArrayLock(array, data, size)) {
        Decode(data, size);
        ByteArrayUnlock(array);
    }
    // Whether it was decoded just now or is a stale one, our own array has served its purpose.
    if (m_array) {
        ByteArrayDestroy(m_array);
        m_array = nullptr;
    }
}

void CParamBlock::Synchronise() {
    if (m_handedOut != 0 && m_array)
        ImportArray(m_array);
    m_handedOut = 0;
}

uint64_t CParamBlock::EncodedSize() const {
    uint64_t size = 4;
    for (const auto& e : m_elements)
        size += 8 + uint64_t{e.WireSize()};
    return size;
}

void CParamBlock::EncodeTo(uint8_t* out) const {
    for (const auto& e : m_elements) {
        uint32_t size = e.WireSize();
        out = PutU32(PutU32(out, e.Kind()), size);
        std::memcpy(out, e.WireData(), size);
        out += size;
    }
    PutU32(out, PK_END);
}

void CParamBlock::Encode(std::vector<uint8_t>& out) const {
    out.resize(static_cast<size_t>(EncodedSize()));
    EncodeTo(out.data());
}

void CParamBlock::Decode(const uint8_t* data, size_t size) {
    Clear(false);
    if (size < 8)
        return;
    // Each element's data, plus the NUL of a text, takes no more room in the store than its 8-byte header
    // and data took in the answer, so the answer's size is always enough. The bytes are overwritten, not
    // zeroed first; a much larger store is not kept for a small answer.
    if (size > m_storeSize || size < m_storeSize / 2) {
        m_storeSize = 0; // stays 0 if the allocation fails
        m_store.reset(); // the old store goes before the new one is made
        m_store = std::make_unique_for_overwrite<uint8_t[]>(size);
        m_storeSize = size;
    }
    uint8_t* store = m_store.get();
    VisitEncoded(data, size, [&](uint32_t kind, const uint8_t* p, uint32_t length) {
        if (CParamValue::IsRecordKind(kind)) {
            std::memcpy(store, p, length);
            m_elements.emplace_back().SetBorrowed(kind, store, length);
            store += length;
        } else if (kind == PK_TEXT) {
            std::memcpy(store, p, length);
            store[length] = 0;
            m_elements.emplace_back().SetBorrowed(kind, store, length);
            store += length + 1;
        } else {
            m_elements.emplace_back().SetPayload(kind, p, length); // a short payload is padded with zeros
        }
    });
}

void CParamBlock::VisitEncoded(const uint8_t* data, size_t size, const ElementVisitor& visit) {
    size_t pos = 0;
    // Every element must lie wholly inside the bytes; the comparisons are arranged so they cannot overflow.
    while (size - pos >= 8) {
        uint32_t kind = GetU32(data + pos);
        uint32_t length = GetU32(data + pos + 4);
        pos += 8;
        if (length > size - pos)
            break;
        const uint8_t* p = data + pos;
        if (kind == PK_TEXT) {
            // A text without its NUL keeps every byte of its size.
            auto nul = static_cast<const uint8_t*>(std::memchr(p, 0, length));
            visit(kind, p, nul ? static_cast<uint32_t>(nul - p) : length);
        } else if (CParamValue::IsRecordKind(kind) || IsFixedKind(kind)) {
            visit(kind, p, length);
        } else {
            break; // the terminator, or a kind this side does not know
        }
        pos += length;
    }
}

void CParamBlock::VisitElements(const ElementVisitor& visit) {
    if (m_handedOut != 0 && m_array) {
        uint8_t* data = nullptr;
        size_t size = 0;
        if (ByteArrayLock(m_array, data, size)) {
            VisitEncoded(data, size, visit);
            ByteArrayUnlock(m_array);
        }
        return;
    }
    for (const auto& e : m_elements)
        visit(e.Kind(), e.WireData(), e.Kind() == PK_TEXT ? e.Length() : e.WireSize());
}

std::string CParamBlock::FormatText(bool words) {
    Synchronise();
    std::string out;
    for (const auto& e : m_elements) {
        uint32_t kind = e.Kind();
        if (kind != PK_BOOL && kind != PK_INT && kind != PK_DOUBLE && kind != PK_TEXT)
            continue;
        if (!out.empty())
            out += ',';
        if (kind == PK_BOOL) {
            out += words ? (e.GetBool() ? "TRUE" : "FALSE") : (e.GetBool() ? "+" : "-");
        } else if (kind == PK_INT) {
            out += std::to_string(e.GetInt());
        } else if (kind == PK_DOUBLE) {
            char text[400]; // "%.4f" of the largest double needs 316
            int n = std::snprintf(text, sizeof text, "%.4f", e.GetDouble());
            out.append(text, std::clamp(n, 0, int{sizeof text} - 1));
        } else {
            out += '"';
            out += e.GetText();
            out += '"';
        }
    }
    return out;
}

void CParamBlock::ParseText(const char* text) {
    Clear(true);
    std::string_view s = text ? text : "";
    s = s.substr(0, s.find_last_not_of("\r\n\t ") + 1); // npos + 1 == 0: nothing but blanks
    size_t p = 0;
    while (p < s.size()) {
        size_t end;
        if (s[p] == '"') {
            end = s.find('"', p + 1);
            end = end == std::string_view::npos ? s.size() : end + 1;
        } else {
            end = std::min(s.find(',', p), s.size());
        }
        if (end > p)
            ParseToken(s.substr(p, end - p), m_elements.emplace_back());
        p = s.find_first_not_of(',', end);
    }
}
