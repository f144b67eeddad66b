#include "browser/ShellTransfer.h"
#include "browser/LocalName.h"
#include "browser/RemotePath.h"
#include "framework/ComObject.h"
#include "framework/Handles.h"
#include "session/DeviceRequests.h"
#include "session/TransferList.h"
#include <shlobj.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

namespace {

constexpr char kDeviceFormatName[] = "Dorvex Device Items";

UINT DeviceFormat() {
    static const UINT format = RegisterClipboardFormatA(kDeviceFormatName);
    return format;
}

UINT PreferredEffectFormat() {
    static const UINT format = RegisterClipboardFormatA(CFSTR_PREFERREDDROPEFFECT);
    return format;
}

FORMATETC Format(UINT format) {
    return {static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

HGLOBAL GlobalCopy(const void* bytes, size_t size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (void* target = memory ? GlobalLock(memory) : nullptr) {
        std::memcpy(target, bytes, size);
        GlobalUnlock(memory);
    }
    return memory;
}

// A DROPFILES block of wide paths, as the shell makes it.
HGLOBAL MakeDropFiles(const std::vector<std::string>& paths) {
    std::wstring list;
    for (const std::string& path : paths)
        list += WideFromNarrow(path.c_str()) + L'\0';
    list += L'\0';
    std::vector<char> block(sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(block.data() + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
    return GlobalCopy(block.data(), block.size());
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(path, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = JoinPath(path, name);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// %TEMP%\Dorvex-<process>: the parent of every folder this process stages files in.
std::string StagingRoot() {
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    return JoinPath(temp, "Dorvex-" + std::to_string(GetCurrentProcessId()));
}

// The drag or copy of device entries. Its files are made when a target takes them: at a drop (after the
// source saw the button go up over a target), at a paste, or for a target that asks outside a drag.
// While the user only drags, a target that looks at the files sees where they will be.
class CDeviceData : public CComObjectBase, public IDataObject {
public:
    CDeviceData(std::shared_ptr<CDeviceDownloader> downloader, RemoteSelection selection)
        : m_downloader(std::move(downloader)), m_selection(std::move(selection)) {}
    ~CDeviceData() override {
        for (auto& [format, memory] : m_stored)
            GlobalFree(memory);
        // The last reader has let go: nobody reads the copies any more.
        if (!m_folder.empty())
            RemoveStagingFolder(m_folder);
    }

    static const QITableEntry kTable[];
    DECLARE_IUNKNOWN(kTable)

    void BeginDrag() { m_dragging = true; }
    // The button went up over a target: the next request for the files makes them.
    void Dropped() { m_dragging = false; }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium)
            return E_INVALIDARG;
        *medium = {};
        if (!(format->tymed & TYMED_HGLOBAL) || format->dwAspect != DVASPECT_CONTENT)
            return DV_E_FORMATETC;
        HGLOBAL memory = nullptr;
        if (format->cfFormat == CF_HDROP) {
            const HRESULT made = Files(memory);
            if (FAILED(made))
                return made;
        } else if (format->cfFormat == PreferredEffectFormat()) {
            const DWORD copy = DROPEFFECT_COPY;
            memory = GlobalCopy(&copy, sizeof copy);
        } else if (format->cfFormat == DeviceFormat()) {
            const DWORD process = GetCurrentProcessId();
            memory = GlobalCopy(&process, sizeof process);
        } else if (HGLOBAL stored = Stored(format->cfFormat)) {
            const SIZE_T size = GlobalSize(stored);
            const void* bytes = GlobalLock(stored);
            memory = bytes ? GlobalCopy(bytes, size) : nullptr;
            GlobalUnlock(stored);
        } else {
            return DV_E_FORMATETC;
        }
        if (!memory)
            return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        if (!format)
            return E_INVALIDARG;
        if (!(format->tymed & TYMED_HGLOBAL) || format->dwAspect != DVASPECT_CONTENT)
            return DV_E_FORMATETC;
        const UINT cf = format->cfFormat;
        return cf == CF_HDROP || cf == PreferredEffectFormat() || cf == DeviceFormat() || Stored(cf) ? S_OK
                                                                                                       : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out)
            out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    // What targets leave on the object (the shell's drop descriptions, the drag image, the effect it
    // performed) is kept and given back.
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override {
        if (!format || !medium || medium->tymed != TYMED_HGLOBAL || !medium->hGlobal)
            return E_NOTIMPL;
        HGLOBAL memory = medium->hGlobal;
        if (!release) {
            const void* bytes = GlobalLock(memory);
            memory = bytes ? GlobalCopy(bytes, GlobalSize(medium->hGlobal)) : nullptr;
            GlobalUnlock(medium->hGlobal);
            if (!memory)
                return E_OUTOFMEMORY;
        }
        for (auto& [cf, stored] : m_stored) {
            if (cf == format->cfFormat) {
                GlobalFree(std::exchange(stored, memory));
                return S_OK;
            }
        }
        m_stored.emplace_back(format->cfFormat, memory);
        return S_OK;
    }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (direction != DATADIR_GET)
            return E_NOTIMPL;
        std::vector<FORMATETC> formats = {Format(CF_HDROP), Format(PreferredEffectFormat()), Format(DeviceFormat())};
        for (const auto& stored : m_stored)
            formats.push_back(Format(stored.first));
        return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    HGLOBAL Stored(UINT format) const {
        for (const auto& [cf, memory] : m_stored)
            if (cf == format)
                return memory;
        return nullptr;
    }

    // The top-level entries' local paths: where they will be while dragging, where they are once made.
    HRESULT Files(HGLOBAL& memory) {
        if (m_folder.empty())
            m_folder = CreateStagingFolder();
        if (m_folder.empty())
            return E_FAIL;
        if (!m_dragging && !m_made) {
            if (m_making)
                return E_PENDING; // a second reader while the first one's files are still coming
            m_making = true;
            // Whatever an earlier attempt left is not what the device has now.
            if (std::exchange(m_attempted, true)) {
                RemoveTree(m_folder);
                CreateDirectoryA(m_folder.c_str(), nullptr);
            }
            m_made = m_downloader->Download(m_selection, m_folder);
            m_making = false;
            if (!m_made)
                return E_ABORT;
        }
        std::vector<std::string> paths;
        for (const RemoteSelection::Entry& entry : m_selection.entries) {
            if (LocalNameProblem(entry.name))
                continue;
            const std::string path = JoinPath(m_folder, entry.name);
            if (path.size() <= kLocalPathLimit && (!m_made || PathExists(path)))
                paths.push_back(path);
        }
        memory = MakeDropFiles(paths);
        return memory ? S_OK : E_OUTOFMEMORY;
    }

    std::shared_ptr<CDeviceDownloader> m_downloader;
    RemoteSelection m_selection;
    std::string m_folder;
    bool m_dragging = false;
    bool m_making = false;
    bool m_attempted = false;
    bool m_made = false;
    std::vector<std::pair<CLIPFORMAT, HGLOBAL>> m_stored;
};

const QITableEntry CDeviceData::kTable[] = {QI_ENTRY(CDeviceData, IDataObject), QI_END};

// The source's side of a drag: Escape cancels, the button going up drops.
class CDropSource : public CComObjectBase, public IDropSource {
public:
    explicit CDropSource(CDeviceData* data) : m_data(data) {}

    static const QITableEntry kTable[];
    DECLARE_IUNKNOWN(kTable)

    STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) override {
        if (escape)
            return DRAGDROP_S_CANCEL;
        if (keys & MK_LBUTTON)
            return S_OK;
        m_data->Dropped();
        return DRAGDROP_S_DROP;
    }
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    CDeviceData* m_data;
};

const QITableEntry CDropSource::kTable[] = {QI_ENTRY(CDropSource, IDropSource), QI_END};

} // namespace

void CDeviceDownloader::Attach(IDeviceRequests* device, ITransferStarter* starter, HWND owner) {
    m_device = device;
    m_starter = starter;
    m_owner = owner;
}

void CDeviceDownloader::Detach() {
    m_device = nullptr;
    m_starter = nullptr;
    m_owner = nullptr;
    // Revoked rather than flushed: flushing would make every file now.
    if (m_clipboard && OleIsCurrentClipboard(m_clipboard.Get()) == S_OK)
        OleSetClipboard(nullptr);
    m_clipboard.Release();
}

bool CDeviceDownloader::Download(const RemoteSelection& selection, const std::string& folder) {
    if (!m_device || !m_starter || m_downloading)
        return false;
    auto list = BuildDownload(*m_device, m_owner, selection, folder);
    if (!list)
        return false;
    // The list tells its end whatever becomes of it: run, cancelled, refused or dropped with the window.
    auto ended = std::make_shared<int>(0);
    list->onEnd = [ended](const CTransferList& done) { *ended = done.completed ? 1 : 2; };
    m_downloading = true;
    m_starter->StartTransfer(std::move(list));
    MSG msg;
    while (!*ended) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The application is ending: so does the wait, and the application's loop sees the quit.
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    m_downloading = false;
    return *ended == 1;
}

void CDeviceDownloader::DragOut(const RemoteSelection& selection) {
    if (selection.entries.empty() || !m_device)
        return;
    auto* data = new CDeviceData(shared_from_this(), selection);
    CComPtr<IDataObject> dataObject;
    dataObject.Attach(data);
    CComPtr<IDropSource> source;
    source.Attach(new CDropSource(data));
    data->BeginDrag();
    DWORD effect = DROPEFFECT_NONE;
    // Some systems (Wine) take Escape's "pressed since the last look" as the drag's Escape: an Escape
    // pressed before the drag (a menu dismissed) would cancel it at once. Looking clears it.
    GetAsyncKeyState(VK_ESCAPE);
    DoDragDrop(dataObject.Get(), source.Get(), DROPEFFECT_COPY, &effect);
    // A target that kept the object and asks later gets the files made then.
    data->Dropped();
}

void CDeviceDownloader::CopyToClipboard(const RemoteSelection& selection) {
    if (selection.entries.empty() || !m_device)
        return;
    CComPtr<IDataObject> data = MakeDeviceData(shared_from_this(), selection);
    if (SUCCEEDED(OleSetClipboard(data.Get())))
        m_clipboard = data;
}

CComPtr<IDataObject> MakeDeviceData(const std::shared_ptr<CDeviceDownloader>& downloader, RemoteSelection selection) {
    CComPtr<IDataObject> data;
    data.Attach(new CDeviceData(downloader, std::move(selection)));
    return data;
}

bool IsDeviceData(IDataObject* data) {
    FORMATETC format = Format(DeviceFormat());
    return data && data->QueryGetData(&format) == S_OK;
}

std::vector<std::string> DroppedFiles(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        if (length && DragQueryFileW(drop, i, path.data(), length + 1)) {
            path.resize(length);
            paths.push_back(NarrowFromWide(path.c_str(), static_cast<int>(length)));
        }
    }
    return paths;
}

std::vector<std::string> DataFiles(IDataObject* data) {
    FORMATETC format = Format(CF_HDROP);
    STGMEDIUM medium = {};
    if (!data || FAILED(data->GetData(&format, &medium)))
        return {};
    std::vector<std::string> paths;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal)
        paths = DroppedFiles(static_cast<HDROP>(medium.hGlobal));
    ReleaseStgMedium(&medium);
    return paths;
}

bool ClipboardHasFiles() {
    CComPtr<IDataObject> data;
    if (FAILED(OleGetClipboard(&data)) || !data)
        return false;
    FORMATETC format = Format(CF_HDROP);
    return data->QueryGetData(&format) == S_OK && !IsDeviceData(data.Get());
}

std::vector<std::string> ClipboardFiles() {
    CComPtr<IDataObject> data;
    if (FAILED(OleGetClipboard(&data)) || !data || IsDeviceData(data.Get()))
        return {};
    return DataFiles(data.Get());
}

std::string CreateStagingFolder() {
    static std::atomic<unsigned> serial{0};
    const std::string root = StagingRoot();
    CreateDirectoryA(root.c_str(), nullptr);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = JoinPath(root, std::to_string(++serial));
        if (CreateDirectoryA(folder.c_str(), nullptr))
            return folder;
    }
    return "";
}

void RemoveStagingFolder(const std::string& folder) {
    RemoveTree(folder);
    // The process's own root goes with its last folder.
    RemoveDirectoryA(StagingRoot().c_str());
}

void RemoveStagingFolders() {
    RemoveTree(StagingRoot());
}
