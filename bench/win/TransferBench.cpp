// Transfers run by the control's main window, with its progress dialogs, against the same work done
// without it in the same run: a tree of small files downloaded by the file list's own "Send File(s)
// To..." (its walk included), against the same downloads submitted straight to the session; a large download against CopyFile; and
// how long a cancel takes to free the device during a throttled transfer; a large file dragged out against
// the same file sent to a folder. One "<name> <value>" line each.
//
//   transfer_bench [--rounds N] [--large-mb N] [--small-files N]
#include "BenchSession.h"

#include "browser/DorvexListView.h"
#include "browser/ShellTransfer.h"
#include "session/TransferList.h"
#include "framework/Prompts.h"
#include "mainwnd/DorvexWnd.h"
#include "browser/Messages.h"
#include "contracts/QuorGui.h"

#include <commctrl.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace bench;

const char* g_benchName = "transfer_bench";

namespace {

constexpr long kListWait = 10000;

// A list that says when the main window is done with it.
struct CWatchedList : CTransferList {
    explicit CWatchedList(bool& freed) : m_freed(freed) { m_freed = false; }
    ~CWatchedList() override { m_freed = true; }
    bool& m_freed;
};

// Nobody reads the boxes here (the cancelled batches' summaries); the folder browser answers `folder`.
class CQuietPrompts : public IPrompts {
public:
    int MessageBox(HWND, const std::string&, const std::string&, UINT) override { return IDOK; }
    INT_PTR DoModal(HINSTANCE, int, const std::string&, HWND, DLGPROC, LPARAM) override { return IDCANCEL; }
    UINT TrackPopupMenu(HMENU, UINT, POINT, HWND) override { return 0; }
    std::optional<std::string> BrowseForFolder(HWND, const std::string&) override {
        return folder.empty() ? std::nullopt : std::optional<std::string>(folder);
    }
    std::string folder;
};

// Dispatches messages until `done` holds, with a loop like a host's own (GetMessage, as the direct runs
// use too); a thread timer wakes it now and then to look at the time limit.
void PumpUntil(const std::function<bool()>& done, DWORD ms = 600000) {
    const ULONGLONG end = GetTickCount64() + ms;
    const UINT_PTR wake = SetTimer(nullptr, 0, 100, nullptr);
    while (!done()) {
        if (GetTickCount64() > end)
            Fail("timed out");
        MSG msg;
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0)
            Fail("the message loop ended");
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    KillTimer(nullptr, wake);
}

// The session component as the control finds it: its class object and type library registered from the
// module next to this program.
void ProvideSessionComponent() {
    HMODULE module = LoadLibraryA((BinDir() + "QuorSession.dll").c_str());
    auto get = module ? reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
                            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))
                      : nullptr;
    IClassFactory* factory = nullptr;
    DWORD cookie = 0;
    ITypeLib* library = nullptr;
    if (!get || FAILED(get(CLSID_QuorSession, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(CoRegisterClassObject(CLSID_QuorSession, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie)) ||
        FAILED(LoadTypeLibEx(Wide(BinDir() + "QuorSession.dll").c_str(), REGKIND_REGISTER, &library)))
        Fail("QuorSession.dll cannot be provided from " + BinDir());
    library->Release();
}

// The control's main window in a frame, with its progress dialogs, connected to `device`.
class Control {
public:
    explicit Control(const std::string& device) {
        m_frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400, nullptr, nullptr,
                                  nullptr, nullptr);
        if (!m_main.Create(nullptr, "Dorvex", WS_CHILD, RECT{0, 0, 600, 300}, m_frame, 1700) ||
            !m_main.HasSession())
            Fail("no main window with a session");
        m_main.PrepareForDisplay();
        Connect(device);
    }
    ~Control() {
        m_main.DestroyWindow();
        DestroyWindow(m_frame);
    }
    void Connect(const std::string& device) {
        m_main.ConnectToDevice(device.c_str());
        PumpUntil([&] { return !m_main.Patterns().DisplayList().empty(); }, 10000);
    }
    CDorvexWnd& Main() { return m_main; }

    // The row `name` of the device's root, alone selected.
    void SelectRow(const std::string& name) {
        CDorvexListView& list = *m_main.ListView();
        const auto row = [&]() -> int {
            for (size_t i = 0; i < list.RowCount(); ++i)
                if (list.Row(i) && list.Row(i)->NameText() == name)
                    return static_cast<int>(i);
            return -1;
        };
        PumpUntil([&] { return list.CurrentPath() == "\\" && row() >= 0; }, kListWait);
        ListView_SetItemState(list.m_hWnd, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(list.m_hWnd, row(), LVIS_SELECTED, LVIS_SELECTED);
    }
    // "Send File(s) To..." on the row `name` of the device's root, as a person does it: the row selected,
    // the list's command run (its walk, the folder browser answered by the prompts), the batch run to its
    // end.
    void SendRow(const std::string& name) {
        SelectRow(name);
        m_main.ListView()->SendSelection();
        PumpUntil([&] { return m_main.Runner().RunningLists() != 0; }, kListWait);
        PumpUntil([&] { return m_main.Runner().RunningLists() == 0; });
    }
    // Posts the list as the file list does and waits until the main window has run and freed it.
    void Run(std::unique_ptr<CWatchedList> list) {
        if (!PostTransferList(m_main.m_hWnd, UWM_TRANSFER_START, std::move(list)))
            Fail("the list could not be posted");
        PumpUntil([&] { return freed; });
    }
    std::unique_ptr<CWatchedList> List(uint8_t direction) {
        auto list = std::make_unique<CWatchedList>(freed);
        list->direction = direction;
        return list;
    }

private:
    HWND m_frame = nullptr;
    CDorvexWnd m_main;
    bool freed = false;
};

// Every file below `dir` (relative to `base`), for the direct downloads.
void Files(const std::string& base, const std::string& dir, std::vector<std::string>& out) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Files(base, dir + name + "\\", out);
        else
            out.push_back(dir + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

int main(int argc, char** argv) {
    const Options options(argc, argv);
    const int rounds = options.rounds, largeMb = options.largeMb, smallFiles = options.smallFiles;
    if (FAILED(OleInitialize(nullptr)))
        Fail("COM");
    // The dialogs get every event but are never shown: a shown window costs a window manager's wait here.
    SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
    ProvideSessionComponent();
    CQuietPrompts quiet;
    SetPrompts(&quiet);

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "dvx-transfer-bench-" + std::to_string(GetCurrentProcessId());
    const std::string device = root + "\\device";
    std::string copies;
    RemoveTree(root);
    for (const std::string& dir : {root, device, device + "\\tree", device + "\\cf0"})
        CreateDirectoryA(dir.c_str(), nullptr);
    // The tree: 20 directories of equal share.
    const int dirs = 20;
    for (int d = 0; d < dirs; ++d) {
        const std::string dir = device + "\\tree\\d" + std::to_string(d);
        CreateDirectoryA(dir.c_str(), nullptr);
        for (int f = d; f < smallFiles; f += dirs)
            WriteBytes(dir + "\\f" + std::to_string(f) + ".dat", 4096, static_cast<uint32_t>(f + 2));
    }
    WriteBytes(device + "\\cf0\\large.bin", static_cast<uint64_t>(largeMb) << 20, 1);
    WriteBytes(device + "\\large.bin", 50ull << 20, 3); // the drag-out comparison's 50 MB
    std::vector<std::string> tree;
    Files(device + "\\tree", "\\", tree);

    // Every run writes into a folder of its own, and nothing is deleted until the end: a file system
    // that just freed thousands of files is slower to create the next ones (it steps over the freed
    // entries for a while), which would make each run slower than the one before whatever it runs.
    int run = 0;
    const auto fresh = [&] {
        copies = root + "\\copies" + std::to_string(++run);
        CreateDirectoryA(copies.c_str(), nullptr);
    };
    Control control(device);
    Session session(device);
    const long kReceive = 0x1801;

    const Pair small = Compare(
        rounds, fresh,
        [&] {
            for (const std::string& file : tree) {
                const std::string dir = file.substr(0, file.rfind('\\') + 1);
                CreateDirectoryA((copies + dir).c_str(), nullptr);
                session.Run(kReceive, "\\tree" + file, copies + dir);
            }
        },
        [&] {
            quiet.folder = copies;
            control.SendRow("tree");
            quiet.folder.clear();
        });
    std::vector<std::string> copied;
    Files(copies, "\\", copied);
    if (copied.size() != tree.size())
        Fail("the control transferred " + std::to_string(copied.size()) + " files");

    const Pair large = Compare(
        rounds, fresh,
        [&] {
            if (!CopyFileA((device + "\\cf0\\large.bin").c_str(), (copies + "\\large.bin").c_str(), FALSE))
                Fail("CopyFile");
        },
        [&] {
            auto list = control.List(0);
            list->items.push_back({"\\cf0\\large.bin", copies + "\\"});
            control.Run(std::move(list));
        });

    // A large file dragged out against the same file sent to a folder: Send To of the root's row, against
    // what a shell target's drop asks of the dragged rows (the file made in the control's folder, ready
    // to be read).
    auto downloader = std::make_shared<CDeviceDownloader>();
    downloader->Attach(&control.Main().Session(), &control.Main(), control.Main().m_hWnd);
    // The copy goes with its data object, once the target is done with it: not in the time measured.
    CComPtr<IDataObject> taken;
    // A short pair (tens of milliseconds a run): more rounds, so that the best of each is its own time.
    const Pair dragOut = Compare(
        std::max(rounds, 7),
        [&] {
            taken.Release();
            fresh();
            control.SelectRow("large.bin");
        },
        [&] {
            quiet.folder = copies;
            control.SendRow("large.bin");
            quiet.folder.clear();
        },
        [&] {
            CComPtr<IDataObject> data = MakeDeviceData(downloader, control.Main().ListView()->Selection());
            const std::vector<std::string> files = DataFiles(data.Get());
            if (files.size() != 1 || GetFileAttributesA(files[0].c_str()) == INVALID_FILE_ATTRIBUTES)
                Fail("the dragged-out file did not arrive");
            taken = data;
        });
    taken.Release();
    downloader->Detach();

    // Cancel: the user's click on the progress dialog's Cancel during a throttled download, until another
    // session can reserve the device. The worst of the rounds counts.
    control.Connect(device + ";throttle=20971520");
    double cancelMs = 0;
    for (int i = 0; i < rounds; ++i) {
        fresh();
        auto list = control.List(0);
        list->items.push_back({"\\cf0\\large.bin", copies + "\\"});
        list->items.push_back({"\\cf0\\large.bin", root + "\\"});
        CDorvexWnd& main = control.Main();
        if (!PostTransferList(main.m_hWnd, UWM_TRANSFER_START, std::move(list)))
            Fail("the list could not be posted");
        PumpUntil([&] { return main.Runner().CurrentRequestId() != 0; });
        const ULONGLONG until = GetTickCount64() + 500;
        PumpUntil([&] { return GetTickCount64() >= until; });
        LONG probe = 0, released = 0;
        session->ReserveDevice(0, &probe);
        if (probe)
            Fail("the device was not reserved during the transfer");
        const double start = Seconds();
        SendMessageA(main.FileDialog()->GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
        PumpUntil([&] {
            session->ReserveDevice(0, &probe);
            return probe != 0;
        });
        cancelMs = std::max(cancelMs, (Seconds() - start) * 1000);
        session->ReleaseDevice(&released);
        PumpUntil([&] { return main.Runner().RunningLists() == 0; });
    }

    std::printf("transfer.control_vs_session_small %.3f\n", small.Ratio());
    std::printf("transfer.control_vs_copyfile_large %.3f\n", large.Ratio());
    std::printf("transfer.cancel_ms %.1f\n", cancelMs);
    std::printf("transfer.dragout_vs_sendto_large %.3f\n", dragOut.Ratio());
    std::fprintf(stderr, "seconds (baseline / control): small %.3f / %.3f, large %.3f / %.3f, send to / drag out %.3f / %.3f\n", small.baseline,
                 small.measured, large.baseline, large.measured, dragOut.baseline, dragOut.measured);
    RemoveTree(root);
    OleUninitialize();
    return 0;
}
