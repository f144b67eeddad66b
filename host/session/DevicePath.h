// Remote paths and names of the device, checked before anything touches the device folder: a path that
// passes can only name something inside it. No Windows header here, so the checks are also tested and
// fuzzed natively.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace devicepath {

// A name fills the listing record's 256-byte field with its NUL.
constexpr size_t kMaxName = 255;
// Longer paths are refused outright; the device folder itself needs room under the system's limits.
constexpr size_t kMaxPath = 1024;

// Why the device would not accept this as the name of a file or directory; "" when it would.
std::string CheckName(std::string_view name);

// Splits a remote path ("\", "\SYS\", "\cf0\data\log.txt") into its checked names; the root gives none.
// One final backslash is allowed. False with the reason in `error` for anything else.
bool SplitRemotePath(std::string_view path, std::vector<std::string>& names, std::string& error);

// The remote path form of names: "\" for none, otherwise "\a\b" plus a final backslash when asked.
std::string JoinRemote(const std::vector<std::string>& names, bool trailingSeparator);

// True for the drives that live in the device's root directory (cf0, cf1, nvram, mmc, any case).
bool IsDriveRoot(const std::vector<std::string>& names);

// A local path that can only mean one place: "C:\..." or "\\server\share\...", without embedded NULs.
bool IsAbsoluteLocalPath(std::string_view path);

// The part of a local or remote path after its last separator.
std::string_view FileNamePart(std::string_view path);

// Matches a file name against a pattern of '*' and '?' (ASCII letters in any case).
bool MatchesPattern(std::string_view name, std::string_view pattern);

} // namespace devicepath
