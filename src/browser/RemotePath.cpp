#include "browser/RemotePath.h"

namespace {
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

std::string FoldLower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        c = Lower(c);
    return folded;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '\\')
        path += '\\';
    path += name;
    return path;
}

std::string WithFinalBackslash(std::string_view path) {
    std::string completed(path);
    if (completed.empty() || completed.back() != '\\')
        completed += '\\';
    return completed;
}

std::string ParentPath(std::string_view path) {
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    const size_t last = path.rfind('\\');
    if (path.empty() || last == std::string_view::npos)
        return {};
    return std::string(path.substr(0, last + 1));
}

std::vector<DriveRow> SecondaryDrives() {
    constexpr int kDriveIcon = 207;
    return {{"\\cf0", "Compact Flash A", kDriveIcon},
            {"\\cf1", "Compact Flash B", kDriveIcon},
            {"\\nvram", "NVRAM Disk", kDriveIcon},
            {"\\mmc", "MMC A", kDriveIcon}};
}

const DriveRow* MatchDrive(const std::vector<DriveRow>& drives, std::string_view directory, std::string_view name) {
    std::string candidate(directory);
    candidate += name;
    candidate = FoldLower(candidate);
    for (const DriveRow& row : drives)
        if (row.root == candidate)
            return &row;
    return nullptr;
}

bool IsDriveRoot(const std::vector<DriveRow>& drives, std::string_view path) {
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    const std::string folded = FoldLower(path);
    for (const DriveRow& row : drives)
        if (row.root == folded)
            return true;
    return false;
}
