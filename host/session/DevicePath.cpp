#include "DevicePath.h"
#include "paramblock/AsciiCase.h"

#include <array>

namespace devicepath {
namespace {

// A path as shown in a message: long ones are cut.
std::string Shown(std::string_view path) {
    return path.size() > 200 ? std::string(path.substr(0, 200)) + "..." : std::string(path);
}

// Names the file system gives to devices; with any extension they still open the device, not a file.
bool IsReservedDeviceName(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    static constexpr std::array<std::string_view, 6> fixed = {"con", "prn",    "aux",
                                                              "nul", "conin$", "conout$"};
    for (std::string_view reserved : fixed)
        if (EqualsIgnoreCase(stem, reserved))
            return true;
    if (stem.size() == 4 && stem[3] >= '0' && stem[3] <= '9')
        return EqualsIgnoreCase(stem.substr(0, 3), "com") || EqualsIgnoreCase(stem.substr(0, 3), "lpt");
    return false;
}

} // namespace

std::string CheckName(std::string_view name) {
    if (name.empty())
        return "The name is empty.";
    if (name.size() > kMaxName)
        return "The name is longer than 255 characters.";
    if (name == "." || name == "..")
        return "\".\" and \"..\" are not valid names.";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0)
            return "The name contains a NUL character.";
        if (u < 32)
            return "The name contains a control character.";
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            return std::string("The name must not contain the character ") + c + ".";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "The name must not end with a dot or a blank.";
    if (IsReservedDeviceName(name))
        return std::string(name).append(" is a reserved device name.");
    return {};
}

bool SplitRemotePath(std::string_view path, std::vector<std::string>& names, std::string& error) {
    names.clear();
    if (path.empty()) {
        error = "The path is empty.";
        return false;
    }
    if (path.front() != '\\') {
        error = "The path \"" + Shown(path) + "\" does not begin with a backslash.";
        return false;
    }
    std::string_view rest = path.substr(1);
    if (!rest.empty() && rest.front() == '\\') {
        error = "The path \"" + Shown(path) + "\" contains an empty name.";
        return false;
    }
    if (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    // Measured without the optional final backslash, so both forms of a path are accepted alike.
    if (rest.size() + 1 > kMaxPath) {
        error = "The path is too long.";
        return false;
    }
    while (!rest.empty()) {
        const size_t end = rest.find('\\');
        const std::string_view name = rest.substr(0, end);
        if (name.empty()) {
            error = "The path \"" + Shown(path) + "\" contains an empty name.";
            names.clear();
            return false;
        }
        const std::string why = CheckName(name);
        if (!why.empty()) {
            error = "Invalid path \"" + Shown(path) + "\": " + why;
            names.clear();
            return false;
        }
        names.emplace_back(name);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (end != std::string_view::npos && rest.empty()) { // "\a\\" style: an empty last name
            error = "The path \"" + Shown(path) + "\" contains an empty name.";
            names.clear();
            return false;
        }
    }
    return true;
}

std::string JoinRemote(const std::vector<std::string>& names, bool trailingSeparator) {
    std::string out;
    for (const std::string& name : names)
        out += '\\' + name;
    if (out.empty() || trailingSeparator)
        out += '\\';
    return out;
}

bool IsDriveRoot(const std::vector<std::string>& names) {
    if (names.size() != 1)
        return false;
    for (std::string_view drive : {"cf0", "cf1", "nvram", "mmc"})
        if (EqualsIgnoreCase(names[0], drive))
            return true;
    return false;
}

bool IsAbsoluteLocalPath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return false;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 3 && isLetter(path[0]) && path[1] == ':' && isSeparator(path[2]))
        return true;
    // A share: two separators, a server name, a separator and a share name.
    if (path.size() >= 5 && isSeparator(path[0]) && isSeparator(path[1]) && !isSeparator(path[2])) {
        const size_t shareStart = path.find_first_of("\\/", 2);
        return shareStart != std::string_view::npos && shareStart + 1 < path.size() &&
               !isSeparator(path[shareStart + 1]);
    }
    return false;
}

std::string_view FileNamePart(std::string_view path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    // Iterative wildcard match with one backtrack point: linear in practice, never recursive.
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace devicepath
