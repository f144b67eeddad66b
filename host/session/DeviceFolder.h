// The device's file system: a local folder whose root is the device's root directory ("Internal
// Flash"); its root directories cf0, cf1, nvram and mmc are the other drives. Every remote path is
// checked (DevicePath) and every link on the way refused before it becomes a local path, so no request
// reaches outside the folder. Failures are raised as CDeviceError.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CParamBlock;

// One checked remote path and what is there now.
struct CDeviceItem {
    std::vector<std::string> names; // below the root; none for the root
    std::wstring local;             // the local path, in the long-path form
    DWORD attributes = INVALID_FILE_ATTRIBUTES;

    bool Exists() const { return attributes != INVALID_FILE_ATTRIBUTES; }
    bool IsDirectory() const { return Exists() && (attributes & FILE_ATTRIBUTE_DIRECTORY); }
    std::string Remote(bool trailingSeparator = false) const;
};

class CDeviceFolder {
public:
    // `root` is the folder's full path.
    explicit CDeviceFolder(const std::wstring& root);

    const std::wstring& Root() const { return m_root; }
    bool Present() const;

    CDeviceItem Resolve(const std::string& remotePath) const;
    CDeviceItem Resolve(const std::vector<std::string>& names) const;
    // An entry of a resolved directory; only the entry itself is looked up.
    CDeviceItem Child(const CDeviceItem& directory, const std::string& name) const;
    // The item for a remote directory that must exist.
    CDeviceItem Directory(const std::string& remotePath) const;
    // The directory, created with any missing parents (uploads create their destination).
    CDeviceItem EnsureDirectory(const std::string& remotePath) const;

    // One listing record (kind 5) per child, sorted by name, into `answer`.
    void List(const std::string& remotePath, CParamBlock& answer) const;
    void DeleteFile(const std::string& remotePath) const;
    void DeleteDirectory(const std::string& remotePath, bool withContents) const;
    // Creates `name` as typed in the directory `parent`.
    void MakeDirectory(const std::string& parent, const std::string& name) const;

    // Where uploads are written until they are complete: a hidden directory in the device's root that
    // no listing shows and no request can name. Made when first needed.
    std::wstring StagingDirectory() const;
    static constexpr const char* kStagingName = "~dvxstage";

private:
    DWORD RootAttributes() const;

    std::wstring m_root; // long-path form, no final separator
};

// The text of a system error code, without its line end.
std::string SystemErrorText(DWORD error);
// Narrow (system code page) <-> wide for names and paths; fails rather than guess a character.
bool WideFromDeviceText(const std::string& narrow, std::wstring& wide);
bool DeviceTextFromWide(const wchar_t* wide, std::string& narrow);
// The long-path form of a full local path ("\\?\C:\x", "\\?\UNC\server\share\x").
std::wstring LongPathForm(const std::wstring& fullPath);
