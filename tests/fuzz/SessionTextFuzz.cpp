// Remote paths, names, patterns and connection texts from anywhere: nothing crashes or reads out of
// bounds, and every path the checks accept really stays below the device root.
#include "session/ConnectionText.h"
#include "session/DevicePath.h"
#include "session/DirectoryRecord.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {
void Require(bool condition) {
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> names;
    std::string error;
    if (devicepath::SplitRemotePath(input, names, error)) {
        for (const std::string& name : names) {
            Require(devicepath::CheckName(name).empty());
            Require(name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos);
        }
        std::vector<std::string> again;
        Require(devicepath::SplitRemotePath(devicepath::JoinRemote(names, true), again, error) &&
                again == names);
    } else {
        Require(names.empty() && !error.empty());
    }
    if (devicepath::CheckName(input).empty()) {
        uint8_t record[kDirectoryRecordSize];
        Require(EncodeDirectoryRecord({input, false, size, size}, record));
        Require(record[input.size()] == 0);
    }

    const size_t split = input.find('\n');
    if (split != std::string::npos)
        devicepath::MatchesPattern(input.substr(0, split), input.substr(split + 1));

    ConnectionSettings settings;
    if (ParseConnectionText(input, settings, error))
        Require(settings.demo || devicepath::IsAbsoluteLocalPath(settings.folder));
    else
        Require(!error.empty());
    return 0;
}
