// Whether a name that came from the device may become one item of a local path. A device is untrusted:
// a name that could climb out of the chosen folder, name a device, or be silently changed by the local
// file system is never joined into a local path.
#pragma once
#include <cstddef>
#include <string_view>

// Why `name` cannot be a local file or directory name, or null when it can. `name` is the device's name
// field up to its NUL; a field without one arrives as all `fieldSize` bytes.
const char* LocalNameProblem(std::string_view name, size_t fieldSize = 256);

// The longest local path the system's narrow file functions take (MAX_PATH less its NUL).
constexpr size_t kLocalPathLimit = 259;
