#include "browser/RemotePath.h"
#include "browser/resource.h"

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
    return {{"\\cf0", "Compact Flash A", IDI_DRIVE},
            {"\\cf1", "Compact Flash B", IDI_DRIVE},
            {"\\nvram", "NVRAM Disk", IDI_DRIVE},
            {"\\mmc", "MMC A", IDI_DRIVE}};
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
