// The file list and the tree with large directories, through the whole chain a user has: a real main
// window connected through QuorSession.dll to a device folder, the listing request, the rows sorted and
// the visible ones painted. The session's own time (its Execute, reading the folder from disk) is timed
// inside each show and taken out for the control's own figures: showing 10,000 entries against filling a
// plain report list view with the same prepared rows, a header click on Size against the plain list
// view's own sort of them, expanding a directory of 10,000 folders against a plain tree view taking the
// same items. With them: the whole show against the plain fill, 100,000 against 10,000, the bytes the
// rows of 100,000 entries keep and the most the control holds while showing them, against the answer's
// size. Baseline and measured runs alternate, and the best of a few rounds counts.
//
//   browser_bench --device <folder> [--rounds N]
//
// The folder holds files10k, files100k and dirs10k (scripts/make-bench-device.py writes it).
#include <windows.h>
#include "WinTestSupport.h"
#include <commctrl.h>
#include <ole2.h>

#include "FileDragSource.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/LayoutSettings.h"
#include "mainwnd/DorvexWnd.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

// Every C++ allocation of this program (the control's classes are linked in) is counted: what is held
// now and the most held since the last reset. The session component is a DLL with its own runtime, so
// its allocations are not among them; the answer it hands over is counted separately.
namespace heapcount {
std::atomic<size_t> held{0}, peak{0};
constexpr size_t kHeader = 16; // keeps the block's size and the alignment malloc gives

void* Allocate(size_t size) noexcept {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block)
        return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    const size_t now = held += size;
    for (size_t top = peak; now > top && !peak.compare_exchange_weak(top, now);) {
    }
    return block + kHeader;
}
void Free(void* p) noexcept {
    if (!p)
        return;
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    held -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}
void ResetPeak() {
    peak = held.load();
}
} // namespace heapcount

void* operator new(size_t size) {
    if (void* p = heapcount::Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return heapcount::Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return heapcount::Allocate(size);
}
void operator delete(void* p) noexcept {
    heapcount::Free(p);
}
void operator delete[](void* p) noexcept {
    heapcount::Free(p);
}
void operator delete(void* p, size_t) noexcept {
    heapcount::Free(p);
}
void operator delete[](void* p, size_t) noexcept {
    heapcount::Free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    heapcount::Free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    heapcount::Free(p);
}

namespace {

constexpr int kFrameWidth = 720, kFrameHeight = 480;
const char kDir10k[] = "\\files10k\\";
const char kDir100k[] = "\\files100k\\";
const char kDirs10k[] = "dirs10k";

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "browser_bench: %s\n", what.c_str());
    std::exit(1);
}





// The session as the views ask it, with the time spent in its Execute and the size of the last answer.
class CTimedDevice : public IDeviceRequests {
public:
    explicit CTimedDevice(IDeviceRequests& device) : m_device(device) {}
    double seconds = 0;
    size_t answerBytes = 0;

    RequestResult Execute(long request, CParamBlock& input, CParamBlock* answer, long wait) override {
        const double start = Seconds();
        RequestResult result = m_device.Execute(request, input, answer, wait);
        seconds += Seconds() - start;
        if (answer && answer->Array())
            answerBytes = answer->Array()->rgsabound[0].cElements;
        return result;
    }
    RequestResult Submit(long request, CParamBlock& input, long wait, uintptr_t userData, long& requestId) override {
        return m_device.Submit(request, input, wait, userData, requestId);
    }
    RequestResult ReserveDevice(long wait) override { return m_device.ReserveDevice(wait); }
    RequestResult ReleaseDevice() override { return m_device.ReleaseDevice(); }
    RequestResult Cancel(long requestId, long mode) override { return m_device.Cancel(requestId, mode); }

private:
    IDeviceRequests& m_device;
};

// As an installer would (regsvr32): the control finds the component and its event interface through the
// registry, also in a prefix that nothing has registered it in yet.
void RegisterSessionComponent() {
    HMODULE module = LoadLibraryA((ProgramDirectory() + "QuorSession.dll").c_str());
    auto registerServer =
        module ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")))
               : nullptr;
    if (!registerServer || FAILED(registerServer()))
        Fail("QuorSession.dll cannot be registered from " + ProgramDirectory());
}

HWND MakeFrame(const char* title, int x) {
    HWND frame = CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, x, 0,
                                 kFrameWidth, kFrameHeight, nullptr, nullptr, nullptr, nullptr);
    if (!frame)
        Fail("no frame window");
    return frame;
}

struct Row {
    std::string name, size, time;
    bool directory;
};

// The plain list view the control's list is measured against: the same size, a report with three columns
// and a small image list, every row inserted with its texts. Redrawing is off while it fills, as any
// program filling a list in bulk does: Wine's visible list view repaints at every insertion, which takes
// the best part of a minute for 10,000 rows and would make the comparison say nothing.
class CBareList {
public:
    CBareList(HWND frame, const RECT& rect, HIMAGELIST images) : m_frame(frame), m_rect(rect), m_images(images) {}
    ~CBareList() { Destroy(); }

    void Recreate() {
        Destroy();
        m_list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS |
                                     LVS_SHAREIMAGELISTS,
                                 m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top,
                                 m_frame, nullptr, nullptr, nullptr);
        if (!m_list)
            Fail("no plain list view");
        ListView_SetImageList(m_list, m_images, LVSIL_SMALL);
        const char* headings[] = {"Name", "Size", "Time (GMT)"};
        for (int column = 0; column < 3; ++column) {
            LVCOLUMNA heading = {};
            heading.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
            heading.cx = kDefaultColumnWidths[column];
            heading.pszText = const_cast<char*>(headings[column]);
            heading.iSubItem = column;
            ListView_InsertColumn(m_list, column, &heading);
        }
        UpdateWindow(m_list);
    }

    void Fill(const std::vector<Row>& rows) {
        SendMessageA(m_list, WM_SETREDRAW, FALSE, 0);
        for (size_t i = 0; i < rows.size(); ++i) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
            item.iItem = static_cast<int>(i);
            item.lParam = static_cast<LPARAM>(i);
            item.pszText = const_cast<char*>(rows[i].name.c_str());
            item.iImage = rows[i].directory ? 0 : 1;
            const int index = static_cast<int>(SendMessageA(m_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
            LVITEMA sub = {};
            sub.iSubItem = 1;
            sub.pszText = const_cast<char*>(rows[i].size.c_str());
            SendMessageA(m_list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
            sub.iSubItem = 2;
            sub.pszText = const_cast<char*>(rows[i].time.c_str());
            SendMessageA(m_list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
        }
        SendMessageA(m_list, WM_SETREDRAW, TRUE, 0);
        UpdateWindow(m_list);
    }

    int Count() const { return ListView_GetItemCount(m_list); }

    // The list view's own sort, as a program that keeps its rows' numbers would call it: by size, equal
    // sizes in the order the rows were given (name order), or back to that order.
    void SortBySize(const std::vector<uint32_t>& sizes) {
        ListView_SortItems(m_list, CompareSizes, reinterpret_cast<LPARAM>(&sizes));
        UpdateWindow(m_list);
    }
    void SortByName() {
        ListView_SortItems(m_list, CompareIndexes, 0);
        UpdateWindow(m_list);
    }
    uint32_t SizeShownFirst(const std::vector<uint32_t>& sizes) const {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        ListView_GetItem(m_list, &item);
        return sizes[static_cast<size_t>(item.lParam)];
    }

private:
    static int CALLBACK CompareSizes(LPARAM a, LPARAM b, LPARAM sizes) {
        const auto& size = *reinterpret_cast<const std::vector<uint32_t>*>(sizes);
        const uint32_t x = size[static_cast<size_t>(a)], y = size[static_cast<size_t>(b)];
        return x != y ? (x < y ? -1 : 1) : CompareIndexes(a, b, 0);
    }
    static int CALLBACK CompareIndexes(LPARAM a, LPARAM b, LPARAM) { return a < b ? -1 : a > b ? 1 : 0; }
    void Destroy() {
        if (m_list)
            DestroyWindow(m_list);
        m_list = nullptr;
    }
    HWND m_frame;
    RECT m_rect;
    HIMAGELIST m_images;
    HWND m_list = nullptr;
};

// The plain tree view the control's tree is measured against: the same size, styles and images, one item
// standing for the directory, which takes its children with redrawing off and is then expanded.
class CBareTree {
public:
    CBareTree(HWND frame, const RECT& rect, HIMAGELIST images, DWORD style)
        : m_frame(frame), m_rect(rect), m_images(images), m_style(style) {}
    ~CBareTree() { Destroy(); }

    void Recreate() {
        Destroy();
        m_tree = CreateWindowExA(0, WC_TREEVIEWA, "", m_style, m_rect.left, m_rect.top, m_rect.right - m_rect.left,
                                 m_rect.bottom - m_rect.top, m_frame, nullptr, nullptr, nullptr);
        if (!m_tree)
            Fail("no plain tree view");
        TreeView_SetImageList(m_tree, m_images, TVSIL_NORMAL);
        m_parent = Insert(TVI_ROOT, kDirs10k);
        UpdateWindow(m_tree);
    }

    void Expand(const std::vector<std::string>& names) {
        SendMessageA(m_tree, WM_SETREDRAW, FALSE, 0);
        for (const std::string& name : names)
            Insert(m_parent, name.c_str());
        SendMessageA(m_tree, WM_SETREDRAW, TRUE, 0);
        TreeView_Expand(m_tree, m_parent, TVE_EXPAND);
        UpdateWindow(m_tree);
    }

    int Count() const { return static_cast<int>(TreeView_GetCount(m_tree)); }

private:
    HTREEITEM Insert(HTREEITEM parent, const char* text) {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        insert.item.pszText = const_cast<char*>(text);
        insert.item.iImage = 0;
        insert.item.iSelectedImage = 1;
        return TreeView_InsertItem(m_tree, &insert);
    }
    void Destroy() {
        if (m_tree)
            DestroyWindow(m_tree);
        m_tree = nullptr;
    }
    HWND m_frame;
    RECT m_rect;
    HIMAGELIST m_images;
    DWORD m_style;
    HWND m_tree = nullptr;
    HTREEITEM m_parent = nullptr;
};

// The best (shortest) times of `rounds` alternating runs of a baseline and a measured operation, each
// after its `reset`.
struct Pair {
    double baseline = 1e30, measured = 1e30;
    double whole = 1e30; // the measured runs with nothing taken out
    double Ratio() const { return measured / baseline; }
    double WholeRatio() const { return whole / baseline; }
};

// `excluded`, when given, is read before and after each measured run: the seconds it grew by (the
// session's own time) are taken out of that run.
Pair Compare(int rounds, const std::function<void()>& resetBaseline, const std::function<void()>& baseline,
             const std::function<void()>& resetMeasured, const std::function<void()>& measured,
             const double* excluded = nullptr) {
    Pair best;
    for (int i = 0; i < rounds; ++i)
        for (bool base : {true, false}) {
            (base ? resetBaseline : resetMeasured)();
            const double excludedBefore = excluded && !base ? *excluded : 0;
            const double start = Seconds();
            (base ? baseline : measured)();
            const double whole = Seconds() - start;
            const double taken = whole - (excluded && !base ? *excluded - excludedBefore : 0);
            double& slot = base ? best.baseline : best.measured;
            slot = std::min(slot, taken);
            if (!base)
                best.whole = std::min(best.whole, whole);
        }
    return best;
}

} // namespace

// The longest the list takes to answer the list view's search for typed characters at 100,000 rows, asked
// as the list view asks (the wide find request through the parent, from the row after the focused one for
// a first character, from the focused one for a longer prefix): characters that begin no name (the answer
// goes round every row), a letter repeated and a prefix. Then a real character, which must move the focus.
double TypeAheadMs(CDorvexListView& list, HWND parent, const std::function<void()>& show100k) {
    show100k();
    SetFocus(list.m_hWnd);
    const std::string initial(1, list.Row(list.RowCount() - 1)->Name()[0]);
    double worst = 0;
    for (const wchar_t* typed : {L"~", L"~~", L"~~~", L"~#", L"#", L"~"}) {
        NMLVFINDITEMW find = {};
        find.hdr = {list.m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID(list.m_hWnd)), static_cast<UINT>(LVN_ODFINDITEMW)};
        find.iStart = wcslen(typed) > 1 ? 0 : 1;
        find.lvfi.flags = LVFI_WRAP | LVFI_PARTIAL;
        find.lvfi.psz = typed;
        const double start = Seconds();
        const LRESULT found = SendMessageW(parent, WM_NOTIFY, find.hdr.idFrom, reinterpret_cast<LPARAM>(&find));
        worst = std::max(worst, (Seconds() - start) * 1000.0);
        if (found != -1)
            Fail("a search for a name no row has found one");
    }
    ListView_SetItemState(list.m_hWnd, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    Sleep(600); // a pause: the list starts a new search
    const double start = Seconds();
    SendMessageW(list.m_hWnd, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(initial[0])), 1);
    std::fprintf(stderr, "a typed character with the focus moved and drawn: %.2f ms\n", (Seconds() - start) * 1000.0);
    const int focused = ListView_GetNextItem(list.m_hWnd, -1, LVNI_FOCUSED);
    if (focused <= 0 || tolower(static_cast<unsigned char>(list.Row(static_cast<size_t>(focused))->Name()[0])) !=
                          tolower(static_cast<unsigned char>(initial[0])))
        Fail("typing a name's first letter did not move the focus to it");
    return worst;
}

// A drag of 10,000 selected rows, by real input: from the move that takes the pointer past the system's
// drag distance to the drag's loop holding the pointer (DoDragDrop's tracker takes the capture as it is
// entered), then cancelled with Escape. The worst of the rounds.
double DragStartMs(CDorvexListView& list, int rounds) {
    SendMessageA(list.m_hWnd, UWM_LIST_SHOW_DIR, 0, reinterpret_cast<LPARAM>(new std::string(kDir10k)));
    ListView_SetItemState(list.m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
    UpdateWindow(list.m_hWnd);
    struct Hand {
        POINT at;
        DWORD thread;
        HWND list;
        double ms = -1;
        static DWORD WINAPI Run(void* self) {
            auto& hand = *static_cast<Hand*>(self);
            MoveTo(hand.at);
            Sleep(100);
            LeftButton(true);
            Sleep(200);
            const double start = Seconds();
            MoveTo({hand.at.x + 24, hand.at.y + 12});
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            while (Seconds() - start < 5) {
                if (GetGUIThreadInfo(hand.thread, &info) && info.hwndCapture && info.hwndCapture != hand.list) {
                    hand.ms = (Seconds() - start) * 1000;
                    break;
                }
                Sleep(0);
            }
            Key(VK_ESCAPE, true);
            Key(VK_ESCAPE, false);
            Sleep(50);
            LeftButton(false);
            return 0;
        }
    };
    RECT row = {};
    ListView_GetItemRect(list.m_hWnd, 0, &row, LVIR_LABEL);
    POINT at = {(row.left + row.right) / 2, (row.top + row.bottom) / 2};
    ClientToScreen(list.m_hWnd, &at);
    double worst = 0;
    int failed = 0;
    for (int round = 0; round < rounds; ++round) {
        // Under Wine an Escape of the round before is now and then still seen by the next drag, which then
        // ends at once: such a round is run again (at most three times in all).
        MSG pending;
        while (PeekMessageA(&pending, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
        }
        Hand hand = {at, GetCurrentThreadId(), list.m_hWnd};
        HANDLE thread = CreateThread(nullptr, 0, Hand::Run, &hand, 0, nullptr);
        Pump(20000, [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; });
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (ListView_GetSelectedCount(list.m_hWnd) != 10000)
            Fail("the press changed the selection: the drag did not carry 10,000 rows");
        Pump(200);
        if (hand.ms < 0) {
            if (++failed > 3)
                Fail("no drag started from the list");
            --round;
            continue;
        }
        worst = std::max(worst, hand.ms);
    }
    return worst;
}

int main(int argc, char** argv) {
    int rounds = 5;
    std::string device;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--device"))
            device = argv[i + 1];
    }
    if (device.empty())
        Fail("usage: browser_bench --device <folder> [--rounds N]");
    if (FAILED(OleInitialize(nullptr)))
        Fail("OLE");
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&init);
    RegisterSessionComponent();

    // The control's main window in a host frame, connected to the device folder.
    HWND controlFrame = MakeFrame("Dorvex", 0);
    auto* main = new CDorvexWnd();
    RECT client;
    GetClientRect(controlFrame, &client);
    if (!main->Create(nullptr, "Dorvex", WS_CHILD | WS_VISIBLE, client, controlFrame, 1700) || main->IsInert())
        Fail("the main window has no session component");
    main->Splitter().OnParentSize(client.right, client.bottom);
    main->ConnectToDevice(device.c_str());
    CDorvexListView* list = main->ListView();
    CDorvexTreeView* tree = main->TreeView();
    const bool connected = Pump(30000, [&] {
        return list->CurrentPath() == "\\" && !main->Patterns().Firmware().empty() && !main->Patterns().Program().empty() &&
               !main->Patterns().DisplayList().empty();
    });
    if (!connected)
        Fail("no connection to " + device);
    Pump(100);
    CTimedDevice timed(main->Session());
    list->SetDevice(&timed);
    tree->SetDevice(&timed);

    const auto clearList = [&] {
        SendMessageA(list->m_hWnd, UWM_VIEW_CLEAR, 0, 0);
        UpdateWindow(list->m_hWnd);
        Pump(20);
    };
    // What the user gets from a tree selection: the listing request, the rows sorted, the visible ones
    // painted.
    const auto show = [&](const char* path, size_t expected) {
        return [&, path, expected] {
            SendMessageA(list->m_hWnd, UWM_LIST_SHOW_DIR, 0, reinterpret_cast<LPARAM>(new std::string(path)));
            UpdateWindow(list->m_hWnd);
            if (list->RowCount() != expected)
                Fail(std::string("the list shows ") + std::to_string(list->RowCount()) + " rows of " + path);
        };
    };

    // The rows as the control shows them, prepared for the plain list view.
    show(kDir10k, 10000)();
    std::vector<Row> rows;
    for (size_t i = 0; i < list->RowCount(); ++i)
        rows.push_back({list->CellText(i, kColumnName), list->CellText(i, kColumnSize), list->CellText(i, kColumnTime),
                        list->Row(i)->IsDirectory()});
    clearList();

    HWND bareFrame = MakeFrame("plain list view", kFrameWidth);
    RECT listRect;
    GetWindowRect(list->m_hWnd, &listRect);
    MapWindowPoints(nullptr, main->m_hWnd, reinterpret_cast<POINT*>(&listRect), 2);
    CBareList bare(bareFrame, listRect, list->ImageList());

    const Pair show10k = Compare(
        rounds, [&] { bare.Recreate(); Pump(20); }, [&] { bare.Fill(rows); }, clearList, show(kDir10k, 10000),
        &timed.seconds);
    if (bare.Count() != 10000)
        Fail("the plain list view did not take every row");

    // A header click on Size against the plain list view sorting the same rows by size; each round starts
    // from name order, where both stand after a show.
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < list->RowCount(); ++i)
        sizes.push_back(list->Row(i)->Size());
    const auto inNameOrder = [&] {
        if (list->Sort().PrimaryKey() != kColumnName)
            list->SortByColumn(kColumnName);
        UpdateWindow(list->m_hWnd);
        Pump(20);
    };
    const Pair sort10k = Compare(
        rounds, [&] { bare.SortByName(); Pump(20); }, [&] { bare.SortBySize(sizes); }, inNameOrder,
        [&] {
            list->SortByColumn(kColumnSize);
            UpdateWindow(list->m_hWnd);
        });
    const uint32_t smallest = *std::min_element(sizes.begin(), sizes.end());
    if (list->Row(0)->Size() != smallest || bare.SizeShownFirst(sizes) != smallest)
        Fail("a sort by size did not put the smallest file first");
    inNameOrder();
    bare.Recreate();

    const Pair show100k =
        Compare(rounds, clearList, show(kDir10k, 10000), clearList, show(kDir100k, 100000));

    // A header click on Size; every round starts from the directory freshly shown in name order.
    const auto clearInNameOrder = [&] {
        clearList();
        if (list->Sort().PrimaryKey() != kColumnName)
            list->SortByColumn(kColumnName);
    };
    const Pair sort100k = Compare(
        rounds, clearInNameOrder, show(kDir100k, 100000),
        [&] {
            clearInNameOrder();
            show(kDir100k, 100000)();
            Pump(20);
        },
        [&] {
            list->SortByColumn(kColumnSize);
            UpdateWindow(list->m_hWnd);
        });

    // What the rows of 100,000 entries keep (after a reload: one-off allocations done), from the cleared
    // list to the shown one; and the most held meanwhile, with the session's answer, which the control
    // holds from the end of Execute until the rows are read, against the answer alone.
    show(kDir100k, 100000)();
    clearList();
    const size_t before = heapcount::held;
    heapcount::ResetPeak();
    timed.answerBytes = 0;
    show(kDir100k, 100000)();
    Pump(20);
    const double bytesPerRow = (static_cast<double>(heapcount::held) - static_cast<double>(before)) / 100000.0;
    const size_t answer100k = timed.answerBytes;
    const double peakVsAnswer =
        (static_cast<double>(timed.answerBytes) + static_cast<double>(heapcount::peak - before)) /
        static_cast<double>(std::max<size_t>(timed.answerBytes, 1));
    clearList();

    // Expanding a directory of 10,000 folders: the tree lists it and takes its folders; the plain tree
    // view takes the same names.
    HTREEITEM flash = TreeView_GetRoot(tree->m_hWnd);
    HTREEITEM dirs = flash ? tree->FindChild(flash, kDirs10k) : nullptr;
    if (!dirs)
        Fail(std::string("no ") + kDirs10k + " under the device's root");
    const auto collapse = [&] {
        TreeView_Expand(tree->m_hWnd, dirs, TVE_COLLAPSE | TVE_COLLAPSERESET);
        tree->RefreshItem(dirs);
        UpdateWindow(tree->m_hWnd);
        Pump(20);
    };
    const auto countChildren = [&] {
        int n = 0;
        for (HTREEITEM child = TreeView_GetChild(tree->m_hWnd, dirs); child;
             child = TreeView_GetNextSibling(tree->m_hWnd, child))
            ++n;
        return n;
    };
    std::vector<std::string> folderNames;
    TreeView_Expand(tree->m_hWnd, dirs, TVE_EXPAND);
    for (HTREEITEM child = TreeView_GetChild(tree->m_hWnd, dirs); child;
         child = TreeView_GetNextSibling(tree->m_hWnd, child))
        folderNames.push_back(tree->ItemText(child));
    if (folderNames.size() != 10000)
        Fail("the tree shows " + std::to_string(folderNames.size()) + " folders of " + kDirs10k);
    RECT treeRect = RectIn(tree->m_hWnd, main->m_hWnd);
    CBareTree bareTree(bareFrame, treeRect, tree->ImageList(),
                       static_cast<DWORD>(GetWindowLongA(tree->m_hWnd, GWL_STYLE)) & ~WS_GROUP);
    const Pair expand10k = Compare(
        rounds, [&] { bareTree.Recreate(); Pump(20); }, [&] { bareTree.Expand(folderNames); }, collapse,
        [&] {
            TreeView_Expand(tree->m_hWnd, dirs, TVE_EXPAND);
            UpdateWindow(tree->m_hWnd);
        },
        &timed.seconds);
    if (countChildren() != 10000 || bareTree.Count() != 10001)
        Fail("an expansion did not show every folder");
    collapse();

    const double typeAheadMs = TypeAheadMs(*list, main->m_hWnd, show(kDir100k, 100000));
    const double dragStartMs = DragStartMs(*list, rounds);

    std::printf("browser.own10k_vs_bare_listview %.3f\n", show10k.Ratio());
    std::printf("browser.sort10k_vs_bare_sort %.3f\n", sort10k.Ratio());
    std::printf("browser.bytes_per_row_100k %.0f\n", bytesPerRow);
    std::printf("browser.peak_vs_answer_100k %.3f\n", peakVsAnswer);
    std::printf("browser.expand10k_vs_bare_tree %.3f\n", expand10k.Ratio());
    std::printf("browser.show10k_vs_bare_listview %.3f\n", show10k.WholeRatio());
    std::printf("browser.show100k_vs_show10k %.3f\n", show100k.Ratio());
    std::printf("browser.sort100k_vs_show100k %.3f\n", sort100k.Ratio());
    std::printf("browser.typeahead_100k_ms %.2f\n", typeAheadMs);
    std::printf("transfer.dragstart_10k_ms %.1f\n", dragStartMs);
    std::fprintf(stderr,
                 "seconds: plain list view 10k %.4f, own show 10k %.4f, show 10k %.4f, plain sort 10k %.4f, sort 10k "
                 "%.4f, plain tree 10k %.4f, own expand 10k %.4f, show 100k %.3f, sort 100k %.4f / show %.3f; "
                 "answer 100k %zu bytes\n",
                 show10k.baseline, show10k.measured, show10k.whole, sort10k.baseline, sort10k.measured,
                 expand10k.baseline, expand10k.measured, show100k.measured, sort100k.measured, sort100k.baseline,
                 answer100k);

    clearList();
    main->DestroyWindow();
    delete main;
    DestroyWindow(controlFrame);
    DestroyWindow(bareFrame);
    OleUninitialize();
    return 0;
}
