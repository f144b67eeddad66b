// The remote path form: backslash-separated narrow text in the device's file system. The device's root
// is a single backslash; the secondary drives are root directories shown as drives, with lower-case
// roots; every directory path the tree hands out ends with a backslash. Case folding touches only the
// ASCII letters.
#pragma once
#include "paramblock/AsciiCase.h"
#include <string>
#include <string_view>
#include <vector>

// `directory`, a backslash unless it already ends with one, and `name` (also for local paths).
std::string JoinPath(std::string_view directory, std::string_view name);
std::string WithFinalBackslash(std::string_view path);
// The directory above `path` ("\cf0\Prog\" gives "\cf0\"); empty for the root or a path without a parent.
std::string ParentPath(std::string_view path);

// One secondary drive the tree recognises among the root's directories.
struct DriveRow {
    std::string root; // a backslash and the drive's directory name in lower case
    std::string displayName;
    int icon;
};

std::vector<DriveRow> SecondaryDrives();
// The row whose root is `directory` + `name` folded to lower case, or null. Only the root's directories
// can match, since every root is a backslash and one name.
const DriveRow* MatchDrive(const std::vector<DriveRow>& drives, std::string_view directory, std::string_view name);
// True when `path` (with or without its final backslash) is the root of one of `drives`.
bool IsDriveRoot(const std::vector<DriveRow>& drives, std::string_view path);
