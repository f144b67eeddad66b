#include "DirectoryRecord.h"

#include <cstring>

namespace {
void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}
} // namespace

bool EncodeDirectoryRecord(const DirectoryRecordFields& fields, uint8_t (&record)[kDirectoryRecordSize]) {
    if (fields.name.empty() || fields.name.size() > 255 || fields.name.find('\0') != std::string_view::npos)
        return false;
    std::memset(record, 0, sizeof record);
    std::memcpy(record, fields.name.data(), fields.name.size());
    record[256] = fields.directory ? 1 : 0;
    PutU32(record + 260, fields.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(fields.size));
    PutU32(record + 264, static_cast<uint32_t>(fields.fileTime));
    PutU32(record + 268, static_cast<uint32_t>(fields.fileTime >> 32));
    return true;
}
