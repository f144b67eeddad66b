#include "DeviceFolder.h"

#include "DeviceError.h"
#include "session/DevicePath.h"
#include "session/DirectoryRecord.h"

#include "framework/Handles.h"
#include "paramblock/AsciiCase.h"
#include "paramblock/ParamBlock.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void Fail(long code, const std::string& text) {
    throw CDeviceError(code, text);
}

[[noreturn]] void FailSystem(const std::string& what, DWORD error) {
    Fail(SE_DEVICE_IO, what + ": " + SystemErrorText(error));
}

// Names reach the file system in their wide form: check that form as well, so that no conversion can
// turn an accepted name into a separator or a relative step.
std::wstring WideName(const std::string& name) {
    std::wstring wide;
    if (!WideFromDeviceText(name, wide) || wide.empty() || wide == L"." || wide == L".." ||
        wide.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos)
        Fail(SE_BAD_PATH, "The name \"" + name + "\" cannot be used on this device.");
    return wide;
}

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The name's sort key in the invariant locale, ignoring case: its bytes compare as CompareString compares
// the names. A key ends with its one NUL byte, which it keeps here.
std::string SortKey(const wchar_t* name) {
    constexpr int kKeyRoom = 1024;
    char key[kKeyRoom];
    const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    int n = LCMapStringW(LOCALE_INVARIANT, flags, name, -1, reinterpret_cast<wchar_t*>(key), kKeyRoom);
    if (n > 0)
        return std::string(key, static_cast<size_t>(n));
    n = LCMapStringW(LOCALE_INVARIANT, flags, name, -1, nullptr, 0);
    std::string longKey(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        LCMapStringW(LOCALE_INVARIANT, flags, name, -1, reinterpret_cast<wchar_t*>(longKey.data()), n);
    return longKey;
}

// A longer name has more than 255 bytes in any code page, which the device never accepts.
constexpr size_t kMaxWideName = 255;

// Read-only entries go too: the device's delete means delete.
bool RemoveFile(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str()) != 0;
}

bool RemoveEmptyDirectory(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(path.c_str()) != 0;
}

// Deletes a directory and everything in it without recursion (trees may be deeper than the stack
// would like). Links inside are removed themselves, never followed.
void RemoveTree(const std::wstring& top, DWORD topAttributes, const std::string& remote) {
    std::vector<std::pair<std::wstring, DWORD>> pending{{top, topAttributes}}, visited;
    while (!pending.empty()) {
        auto [dir, dirAttributes] = pending.back();
        pending.pop_back();
        visited.emplace_back(dir, dirAttributes);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (search == INVALID_HANDLE_VALUE)
            FailSystem("Cannot read " + remote, GetLastError());
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = dir + L"\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            bool removed = true;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(attributes))
                pending.emplace_back(path, attributes);
            else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                removed = RemoveEmptyDirectory(path, attributes); // a directory link: the link only
            else
                removed = RemoveFile(path, attributes);
            if (!removed) {
                const DWORD error = GetLastError();
                FindClose(search);
                FailSystem("Cannot delete everything in " + remote, error);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    for (auto it = visited.rbegin(); it != visited.rend(); ++it)
        if (!RemoveEmptyDirectory(it->first, it->second))
            FailSystem("Cannot delete " + remote, GetLastError());
}

} // namespace

std::string SystemErrorText(DWORD error) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "system error " + std::to_string(error);
    LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out + ".";
}

bool WideFromDeviceText(const std::string& narrow, std::wstring& wide) {
    wide.clear();
    if (narrow.empty())
        return true;
    if (narrow.size() > 0x7FFFFFFF || narrow.find('\0') != std::string::npos)
        return false;
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(),
                                      static_cast<int>(narrow.size()), nullptr, 0);
    if (n <= 0)
        return false;
    wide.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(), static_cast<int>(narrow.size()),
                               wide.data(), n) == n;
}

bool DeviceTextFromWide(const wchar_t* wide, std::string& narrow) {
    narrow.clear();
    if (!wide || !*wide)
        return true;
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lossy);
    if (n <= 1 || lossy)
        return false;
    narrow.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, narrow.data(), n, nullptr, &lossy);
    narrow.pop_back(); // the NUL
    return !lossy;
}

std::wstring LongPathForm(const std::wstring& fullPath) {
    if (fullPath.rfind(L"\\\\?\\", 0) == 0)
        return fullPath;
    if (fullPath.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + fullPath.substr(2);
    return L"\\\\?\\" + fullPath;
}

std::string CDeviceItem::Remote(bool trailingSeparator) const {
    return devicepath::JoinRemote(names, trailingSeparator);
}

CDeviceFolder::CDeviceFolder(const std::wstring& root) : m_root(LongPathForm(root)) {
    // Names are joined with a separator, so the root keeps none, even when it is a drive's root.
    while (!m_root.empty() && (m_root.back() == L'\\' || m_root.back() == L'/'))
        m_root.pop_back();
}

DWORD CDeviceFolder::RootAttributes() const {
    // "\\?\C:" names the volume, "\\?\C:\" its root directory.
    return GetFileAttributesW(m_root.back() == L':' ? (m_root + L'\\').c_str() : m_root.c_str());
}

bool CDeviceFolder::Present() const {
    const DWORD attributes = RootAttributes();
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

CDeviceItem CDeviceFolder::Resolve(const std::string& remotePath) const {
    std::vector<std::string> names;
    std::string error;
    if (!devicepath::SplitRemotePath(remotePath, names, error))
        Fail(SE_BAD_PATH, error);
    return Resolve(names);
}

CDeviceItem CDeviceFolder::Resolve(const std::vector<std::string>& names) const {
    if (!names.empty() && EqualsIgnoreCase(names[0], kStagingName))
        Fail(SE_BAD_PATH, "\\" + names[0] + " is reserved for the device's own use.");
    CDeviceItem item;
    item.local = m_root;
    item.attributes = RootAttributes();
    for (const std::string& name : names)
        item = Child(item, name);
    return item;
}

CDeviceItem CDeviceFolder::Child(const CDeviceItem& directory, const std::string& name) const {
    CDeviceItem item;
    item.names = directory.names;
    item.names.push_back(name);
    item.local = directory.local + L'\\' + WideName(name);
    // Below something that is missing nothing exists; otherwise every step must be a plain entry.
    if (directory.IsDirectory())
        item.attributes = GetFileAttributesW(item.local.c_str());
    if (IsLink(item.attributes))
        Fail(SE_BAD_PATH, item.Remote() + " is a link; the device does not follow links.");
    return item;
}

std::wstring CDeviceFolder::StagingDirectory() const {
    std::wstring wide;
    WideFromDeviceText(kStagingName, wide);
    const std::wstring staging = m_root + L'\\' + wide;
    const DWORD attributes = GetFileAttributesW(staging.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !IsLink(attributes))
        return staging;
    if (!CreateDirectoryW(staging.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        FailSystem("Cannot prepare the device for an upload", GetLastError());
    SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return staging;
}

CDeviceItem CDeviceFolder::Directory(const std::string& remotePath) const {
    CDeviceItem item = Resolve(remotePath);
    if (!item.Exists())
        Fail(SE_NOT_FOUND, "The directory " + item.Remote(true) + " does not exist.");
    if (!item.IsDirectory())
        Fail(SE_NOT_FOUND, item.Remote() + " is not a directory.");
    return item;
}

CDeviceItem CDeviceFolder::EnsureDirectory(const std::string& remotePath) const {
    const CDeviceItem target = Resolve(remotePath);
    if (target.IsDirectory())
        return target;
    CDeviceItem step = Resolve(std::vector<std::string>());
    for (const std::string& name : target.names) {
        step = Child(step, name);
        if (step.IsDirectory())
            continue;
        if (step.Exists())
            Fail(SE_EXISTS, step.Remote() + " is a file, not a directory.");
        if (!CreateDirectoryW(step.local.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            FailSystem("Cannot create the directory " + step.Remote(true), GetLastError());
        step.attributes = GetFileAttributesW(step.local.c_str());
    }
    return step;
}

void CDeviceFolder::List(const std::string& remotePath, CParamBlock& answer) const {
    const CDeviceItem dir = Directory(remotePath);
    struct Entry {
        std::string name;
        std::string sortKey;
        DirectoryRecordFields fields;
    };
    std::vector<Entry> entries;
    // Read in large batches without the find functions' per-entry copying: with 100,000 entries the
    // directory read is most of what a listing costs.
    const std::wstring path = dir.local.back() == L':' ? dir.local + L'\\' : dir.local;
    const HANDLE opened = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        FailSystem("Cannot list " + dir.Remote(true), GetLastError());
    const CKernelHandle directory(opened);
    constexpr DWORD kBatchBytes = 256 * 1024;
    const auto batch = std::make_unique<uint64_t[]>(kBatchBytes / sizeof(uint64_t)); // entries are 8-aligned
    while (GetFileInformationByHandleEx(directory.Get(), FileIdBothDirectoryInfo, batch.get(), kBatchBytes)) {
        for (const uint8_t* at = reinterpret_cast<const uint8_t*>(batch.get());;) {
            const auto& found = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            wchar_t wide[kMaxWideName + 1];
            const size_t length = found.FileNameLength / sizeof(wchar_t);
            std::string name;
            // Entries the device could not name back (characters outside the code page, names the device
            // refuses) are left out rather than shown under a name that leads nowhere.
            if (length <= kMaxWideName) {
                std::memcpy(wide, found.FileName, length * sizeof(wchar_t));
                wide[length] = 0;
                if (DeviceTextFromWide(wide, name) && name != "." && name != ".." &&
                    devicepath::CheckName(name).empty() &&
                    !(dir.names.empty() && EqualsIgnoreCase(name, kStagingName))) {
                    Entry entry{std::move(name), SortKey(wide), {}};
                    entry.fields.directory = (found.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                    entry.fields.size = entry.fields.directory ? 0 : static_cast<uint64_t>(found.EndOfFile.QuadPart);
                    entry.fields.fileTime = static_cast<uint64_t>(found.LastWriteTime.QuadPart);
                    entries.push_back(std::move(entry));
                }
            }
            if (!found.NextEntryOffset)
                break;
            at += found.NextEntryOffset;
        }
    }
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES)
        FailSystem("Cannot list " + dir.Remote(true), error);

    // The keys give the order CompareString gives, for one call per entry instead of one per comparison.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.sortKey < b.sortKey; });
    answer.Clear(true);
    uint8_t record[kDirectoryRecordSize];
    size_t index = 0;
    for (Entry& entry : entries) {
        entry.fields.name = entry.name;
        if (EncodeDirectoryRecord(entry.fields, record))
            answer.At(index++).SetTypedRecord(PK_RECORD5, record);
    }
}

void CDeviceFolder::DeleteFile(const std::string& remotePath) const {
    const CDeviceItem item = Resolve(remotePath);
    if (item.names.empty() || !item.Exists())
        Fail(SE_NOT_FOUND, "The file " + item.Remote() + " does not exist.");
    if (item.IsDirectory())
        Fail(SE_BAD_INPUT, item.Remote() + " is a directory; delete it as a directory.");
    if (!RemoveFile(item.local, item.attributes))
        FailSystem("Cannot delete " + item.Remote(), GetLastError());
}

void CDeviceFolder::DeleteDirectory(const std::string& remotePath, bool withContents) const {
    const CDeviceItem item = Resolve(remotePath);
    if (item.names.empty())
        Fail(SE_BAD_PATH, "The root directory cannot be deleted.");
    if (devicepath::IsDriveRoot(item.names))
        Fail(SE_BAD_PATH, "The drive " + item.Remote(true) + " cannot be deleted.");
    if (!item.Exists())
        Fail(SE_NOT_FOUND, "The directory " + item.Remote(true) + " does not exist.");
    if (!item.IsDirectory())
        Fail(SE_BAD_INPUT, item.Remote() + " is a file, not a directory.");
    if (withContents) {
        RemoveTree(item.local, item.attributes, item.Remote(true));
    } else if (!RemoveEmptyDirectory(item.local, item.attributes)) {
        const DWORD error = GetLastError();
        if (error == ERROR_DIR_NOT_EMPTY)
            Fail(SE_NOT_EMPTY, "The directory " + item.Remote(true) + " is not empty.");
        FailSystem("Cannot delete " + item.Remote(true), error);
    }
}

void CDeviceFolder::MakeDirectory(const std::string& parent, const std::string& name) const {
    const CDeviceItem dir = Directory(parent);
    const std::string why = devicepath::CheckName(name);
    if (!why.empty())
        Fail(SE_BAD_PATH, "Cannot create the directory \"" + name.substr(0, 260) + "\": " + why);
    if (dir.names.empty() && EqualsIgnoreCase(name, kStagingName))
        Fail(SE_BAD_PATH,
             "Cannot create the directory \"" + name + "\": the name is reserved for the device's own use.");
    const CDeviceItem item = Child(dir, name);
    if (item.Exists())
        Fail(SE_EXISTS,
             "Cannot create the directory " + item.Remote() + ": a file or directory of that name exists.");
    if (!CreateDirectoryW(item.local.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            Fail(SE_EXISTS, "Cannot create the directory " + item.Remote() + ": it already exists.");
        FailSystem("Cannot create the directory " + item.Remote(), error);
    }
}
