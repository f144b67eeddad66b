// The drive and directory tree and the file list against a scripted session: what each listing shows,
// how paths are found, which round trips are made, the list's order, texts and keys, and hostile records.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "browser/DirectoryEntry.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "paramblock/ParamBlock.h"
#include "mainwnd/DorvexWnd.h"

#include <memory>

namespace {

using Entries = std::vector<DirectoryEntry>;
constexpr uint64_t kMarch5 = 127229692290000000ull; // 2004-03-05 14:07:09 UTC

Entries Dirs(std::initializer_list<const char*> names) {
    Entries entries;
    for (const char* name : names)
        entries.push_back(TestEntry(name, true));
    return entries;
}

std::string Listing(const std::string& path, long wait) {
    return "Execute(0x1009,[" + path + "]," + std::to_string(wait) + ")";
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(EnsureSessionTypeLibrary());
        ASSERT_EQ(factory.Register(), S_OK);
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700, 400,
                                nullptr, nullptr, nullptr, nullptr);
        session.ExpectCreation();
        main = std::make_unique<CDorvexWnd>();
        RECT client;
        GetClientRect(frame, &client);
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", WS_CHILD | WS_VISIBLE, client, frame, 1700));
        session.VerifyDone();
        tree = main->TreeView();
        list = main->ListView();
    }
    void TearDown() override {
        session.ExpectDestruction();
        main.reset();
        session.VerifyDone();
        prompts.VerifyDone();
        DestroyWindow(frame);
        factory.Revoke();
        FreeTestStrings();
        OleUninitialize();
    }

    // Lets posted messages run until the session has seen `calls` more calls in all.
    void Settle() {
        Pump(2000, [&] { return Count(session.Trace(), "Execute(") >= expectedCalls; });
        Pump(20);
    }
    void ExpectListing(const std::string& path, long wait, const Entries& entries) {
        session.ExpectExecute(Listing(path, wait), MakeListing(entries));
        ++expectedCalls;
    }
    // The probe finds a file system; the root is listed once for the tree, then once for the list when
    // the tree selects "Internal Flash".
    void FillRoots(const Entries& root) {
        session.ExpectExecute("Execute(0x1002,[],5000)", nullptr);
        ++expectedCalls;
        ExpectListing("\\", 5000, root);
        ExpectListing("\\", 10000, root);
        PostMessageA(tree->m_hWnd, UWM_TREE_FILL_ROOTS, 0, 0);
        Settle();
        session.VerifyDone();
        expectedCalls = 0;
    }
    void Post(HWND window, UINT message, const std::string& path) {
        ASSERT_TRUE(PostPath(window, message, path));
    }

    std::string Texts(HTREEITEM first) const {
        std::string texts;
        // Appended in two steps: GCC 12 at -O3 (the 32-bit tree) warns falsely about "," + text.
        for (HTREEITEM item = first; item; item = TreeView_GetNextSibling(tree->m_hWnd, item))
            texts.append(texts.empty() ? "" : ",").append(tree->ItemText(item));
        return texts;
    }
    std::string TopLevel() const { return Texts(TreeView_GetRoot(tree->m_hWnd)); }
    std::string Children(HTREEITEM item) const { return Texts(TreeView_GetChild(tree->m_hWnd, item)); }
    HTREEITEM Top(const std::string& text) const {
        for (HTREEITEM item = TreeView_GetRoot(tree->m_hWnd); item; item = TreeView_GetNextSibling(tree->m_hWnd, item))
            if (tree->ItemText(item) == text)
                return item;
        return nullptr;
    }
    HTREEITEM Selected() const { return TreeView_GetSelection(tree->m_hWnd); }
    std::string Rows() const {
        std::string rows;
        for (size_t i = 0; i < list->RowCount(); ++i)
            rows.append(rows.empty() ? "" : ",").append(list->CellText(i, 0));
        return rows;
    }

    CSessionDouble session;
    CSessionFactory factory{session};
    CScriptedPrompts prompts;
    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
    CDorvexTreeView* tree = nullptr;
    CDorvexListView* list = nullptr;
    int expectedCalls = 0;
};

TEST_F(BrowserTest, TheRootListingGivesTheDrivesInOrderAndTheRestUnderInternalFlash) {
    Entries root = Dirs({"SYS", "CF0", "nvram", "Mmc", "USER"});
    root.insert(root.begin() + 2, TestEntry("cf1", false, 12)); // a file, so no "Compact Flash B"
    FillRoots(root);
    EXPECT_EQ(TopLevel(), "Internal Flash,Compact Flash A,NVRAM Disk,MMC A");
    EXPECT_EQ(Children(Top("Internal Flash")), "SYS,USER");
    EXPECT_EQ(tree->BuildPath(Top("Internal Flash")), "\\");
    EXPECT_EQ(tree->BuildPath(Top("Compact Flash A")), "\\cf0\\");
    EXPECT_EQ(tree->BuildPath(Top("NVRAM Disk")), "\\nvram\\");
    EXPECT_EQ(Selected(), Top("Internal Flash"));
    EXPECT_EQ(list->CurrentPath(), "\\");
    EXPECT_EQ(Rows(), "CF0,Mmc,nvram,SYS,USER,cf1");
    // Each drive item brings its own image after the two folder images.
    EXPECT_EQ(ImageList_GetImageCount(tree->ImageList()), 2 + 4);

    // Listing the root again (it is expanded) shows every drive once.
    ExpectListing("\\", 5000, root);
    Post(tree->m_hWnd, UWM_TREE_REFRESH_PATH, "\\");
    Settle();
    EXPECT_EQ(TopLevel(), "Internal Flash,Compact Flash A,NVRAM Disk,MMC A");
    EXPECT_EQ(Children(Top("Internal Flash")), "SYS,USER");

    // Selecting a drive shows its root; selecting the same directory again costs no listing.
    ExpectListing("\\nvram\\", 10000, {});
    TreeView_SelectItem(tree->m_hWnd, Top("NVRAM Disk"));
    Settle();
    Post(list->m_hWnd, UWM_LIST_SHOW_DIR, "\\nvram\\");
    Pump(50);
    session.VerifyDone();

    // A new connection clears everything, the drives' images included.
    tree->ClearTree();
    EXPECT_EQ(TreeView_GetCount(tree->m_hWnd), 0u);
    EXPECT_EQ(ImageList_GetImageCount(tree->ImageList()), 2);
}

TEST_F(BrowserTest, PathsAreFoundByListingAndExpandingWhatLiesOnTheWay) {
    FillRoots(Dirs({"CF0", "SYS"}));
    // Depth three from an unlisted drive: one listing per level, each directory expanded on the way.
    ExpectListing("\\cf0\\", 5000, Dirs({"Prog"}));
    ExpectListing("\\cf0\\Prog\\", 5000, Dirs({"Sub"}));
    ExpectListing("\\cf0\\Prog\\Sub\\", 5000, {});
    ExpectListing("\\cf0\\Prog\\Sub\\", 10000, {TestEntry("a.txt", false, 1)});
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "\\cf0\\Prog\\Sub");
    Settle();
    session.VerifyDone();
    expectedCalls = 0;
    EXPECT_EQ(tree->BuildPath(Selected()), "\\cf0\\Prog\\Sub\\");
    EXPECT_EQ(list->CurrentPath(), "\\cf0\\Prog\\Sub\\");
    HTREEITEM prog = TreeView_GetParent(tree->m_hWnd, Selected());
    EXPECT_TRUE(TreeView_GetItemState(tree->m_hWnd, prog, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_EQ(Children(Selected()), "") << "a directory without subdirectories keeps no placeholder";

    // The drive is chosen on the folded path, the walk compares with the path as received.
    ExpectListing("\\cf0\\", 10000, Dirs({"Prog"}));
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "\\CF0\\");
    Settle();
    EXPECT_EQ(Selected(), Top("Compact Flash A"));
    session.VerifyDone();
    expectedCalls = 0;
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "\\CF0\\Prog\\");
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "relative\\path");
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "");
    Pump(50);
    EXPECT_EQ(Selected(), Top("Compact Flash A"));

    // A directory that does not exist lists its parent once more and selects nothing.
    ExpectListing("\\SYS\\", 5000, Dirs({"A"}));
    ExpectListing("\\SYS\\", 5000, Dirs({"A"}));
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "\\SYS\\Missing\\");
    Settle();
    EXPECT_EQ(Selected(), Top("Compact Flash A"));
    EXPECT_EQ(list->CurrentPath(), "\\cf0\\");
    session.VerifyDone();
}

TEST_F(BrowserTest, RefreshListsExpandedItemsAtOnceAndCollapsedOnesAtTheirNextExpansion) {
    FillRoots(Dirs({"SYS"}));
    HTREEITEM sys = TreeView_GetChild(tree->m_hWnd, Top("Internal Flash"));
    // Expanding a directory of files only leaves it without children; collapsing lists nothing.
    ExpectListing("\\SYS\\", 5000, {TestEntry("f", false)});
    TreeView_Expand(tree->m_hWnd, sys, TVE_EXPAND);
    TreeView_Expand(tree->m_hWnd, sys, TVE_COLLAPSE);
    EXPECT_EQ(Children(sys), "");
    session.VerifyDone();

    Post(tree->m_hWnd, UWM_TREE_REFRESH_PATH, "\\SYS\\"); // collapsed: a placeholder, no listing
    Pump(50);
    EXPECT_EQ(Children(sys), ".");
    ExpectListing("\\SYS\\", 5000, Dirs({"New"}));
    TreeView_Expand(tree->m_hWnd, sys, TVE_EXPAND);
    EXPECT_EQ(Children(sys), "New");
    ExpectListing("\\SYS\\", 5000, Dirs({"New", "Newer"}));
    Post(tree->m_hWnd, UWM_TREE_REFRESH_PATH, "\\SYS"); // expanded: listed again at once
    Settle();
    EXPECT_EQ(Children(sys), "New,Newer");
    session.VerifyDone();
}

TEST_F(BrowserTest, WithoutAFileSystemTheTreeHoldsOnlyTheMessage) {
    session.Expect("Execute(0x1002,[],5000)", 0);
    PostMessageA(tree->m_hWnd, UWM_TREE_FILL_ROOTS, 0, 0);
    Pump(100, [&] { return TreeView_GetCount(tree->m_hWnd) > 0; });
    EXPECT_EQ(TopLevel(), "No Filesystem present.");
    EXPECT_EQ(TreeView_GetCount(tree->m_hWnd), 1u);
    // Selecting the message lists nothing.
    TreeView_SelectItem(tree->m_hWnd, TreeView_GetRoot(tree->m_hWnd));
    Pump(50);
    EXPECT_EQ(list->CurrentPath(), "");
}

TEST_F(BrowserTest, TheListShowsSortedRowsWithTheirTextsAndResortsOnHeaderClicks) {
    ASSERT_EQ(GetUserDefaultLCID(), 0x409u) << "the time text below is the English (United States) one";
    FillRoots({});
    Entries entries = {TestEntry("b.txt", false, 3000000000u, kMarch5), TestEntry("Zed", true, 0, kMarch5),
                       TestEntry("_x", false, 5, kMarch5 + 1), TestEntry("alpha", true)};
    ExpectListing("\\data\\", 10000, entries);
    Post(list->m_hWnd, UWM_LIST_SHOW_DIR, "\\data\\");
    Settle();
    EXPECT_EQ(Rows(), "alpha,Zed,_x,b.txt");
    EXPECT_EQ(ListView_GetItemCount(list->m_hWnd), 4);
    EXPECT_EQ(list->CellText(3, 1), "3000000000");
    EXPECT_EQ(list->CellText(1, 1), "") << "directories have no size";
    EXPECT_EQ(list->CellText(3, 2), "3/05/04 02:07:09 PM");
    // What the list control draws comes from the rows: text and icon.
    char text[64] = "";
    ListView_GetItemText(list->m_hWnd, 3, 1, text, sizeof text);
    EXPECT_STREQ(text, "3000000000");
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = 0;
    ListView_GetItem(list->m_hWnd, &item);
    EXPECT_EQ(item.iImage, 0) << "folder icon";
    item.iItem = 3;
    ListView_GetItem(list->m_hWnd, &item);
    EXPECT_EQ(item.iImage, 1) << "document icon";

    // A click on "Name" reverses everything; the arrow follows the primary column and its direction.
    HWND header = ListView_GetHeader(list->m_hWnd);
    auto arrow = [&](int column) {
        HDITEMA h = {};
        h.mask = HDI_FORMAT;
        Header_GetItem(header, column, &h);
        return h.fmt & (HDF_SORTUP | HDF_SORTDOWN);
    };
    EXPECT_EQ(arrow(0), HDF_SORTUP);
    NMLISTVIEW click = {};
    click.hdr = {list->m_hWnd, 1702, static_cast<UINT>(LVN_COLUMNCLICK)};
    click.iSubItem = 0;
    SendMessageA(main->m_hWnd, WM_NOTIFY, 1702, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(Rows(), "b.txt,_x,Zed,alpha");
    EXPECT_EQ(arrow(0), HDF_SORTDOWN);
    click.iSubItem = 1;
    SendMessageA(main->m_hWnd, WM_NOTIFY, 1702, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(Rows(), "b.txt,_x,Zed,alpha") << "by size, still descending; directories tie on the name";
    EXPECT_EQ(arrow(0), 0);
    EXPECT_EQ(arrow(1), HDF_SORTDOWN);

    // The selection follows its records through a re-sort.
    ListView_SetItemState(list->m_hWnd, 0, LVIS_SELECTED, LVIS_SELECTED);
    list->SortByColumn(1);
    ASSERT_EQ(list->SelectedEntries().size(), 1u);
    EXPECT_EQ(list->SelectedEntries()[0]->Name(), "b.txt");
    EXPECT_EQ(Rows(), "alpha,Zed,_x,b.txt") << "ascending by size again, the name breaking ties";
}

TEST_F(BrowserTest, ListingsAreMadeOnlyWhenNeededAndARefusalIsShownOnce) {
    FillRoots({});
    ExpectListing("\\d\\", 10000, {TestEntry("f", false)});
    Post(list->m_hWnd, UWM_LIST_SHOW_DIR, "\\d\\");
    Post(list->m_hWnd, UWM_LIST_SHOW_DIR, "\\d\\"); // the same directory: nothing
    Settle();
    EXPECT_TRUE(GetWindowLongA(list->m_hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    // F5 lists again; a refusal says why once and leaves the list empty, still accepting drops.
    session.Expect(Listing("\\d\\", 10000), 0);
    session.ExpectErrorInfo(L"The directory is gone.", 12);
    prompts.ExpectBox("The directory is gone.", "Dorvex", MB_OK | MB_ICONEXCLAMATION);
    SendMessageA(list->m_hWnd, WM_KEYDOWN, VK_F5, 0);
    Pump(100, [&] { return list->RowCount() == 0; });
    Pump(20);
    prompts.VerifyDone();
    EXPECT_EQ(list->RowCount(), 0u);
    EXPECT_EQ(ListView_GetItemCount(list->m_hWnd), 0);
    EXPECT_TRUE(GetWindowLongA(list->m_hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    session.VerifyDone();
    // Clearing forgets the directory and refuses drops.
    SendMessageA(list->m_hWnd, UWM_VIEW_CLEAR, 0, 0);
    EXPECT_EQ(list->CurrentPath(), "");
    EXPECT_FALSE(GetWindowLongA(list->m_hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(BrowserTest, HostileRecordsAreLeftOutOfBothViews) {
    Entries root = Dirs({"ok", "", ".", "..", "a\\b", "c/d"});
    root.push_back(TestEntry(std::string(256, 'x'), true)); // no NUL in the name field
    FillRoots(root);
    EXPECT_EQ(Children(Top("Internal Flash")), "ok");
    EXPECT_EQ(Rows(), "ok");
    // Elements that are not whole records are skipped too; a huge listing is shown whole.
    CParamBlock block;
    block.At(0).SetRecord(PK_RECORD5, TestEntry("short", false).bytes, 100);
    block.At(1).SetText("not a record");
    block.At(2).SetTypedRecord(PK_RECORD5, TestEntry("whole", false).bytes);
    std::vector<uint8_t> bytes;
    block.Encode(bytes);
    SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* odd = SafeArrayCreate(VT_UI1, 1, &bound);
    memcpy(odd->pvData, bytes.data(), bytes.size());
    session.ExpectExecute(Listing("\\odd\\", 10000), odd);
    ++expectedCalls;
    Post(list->m_hWnd, UWM_LIST_SHOW_DIR, "\\odd\\");
    Settle();
    EXPECT_EQ(Rows(), "whole");
}

TEST_F(BrowserTest, KeysAndClicksOpenDirectoriesMoveUpSelectAndRaiseTheMenu) {
    FillRoots(Dirs({"cf0"}));
    ExpectListing("\\cf0\\", 10000, Dirs({"data"}));
    Post(tree->m_hWnd, UWM_TREE_SELECT_PATH, "\\cf0\\");
    Settle();
    // Double-click on a directory row asks the tree for it.
    ExpectListing("\\cf0\\", 5000, Dirs({"data"}));
    ExpectListing("\\cf0\\data\\", 5000, Dirs({"sub"}));
    ExpectListing("\\cf0\\data\\", 10000, {TestEntry("sub", true), TestEntry("file", false)});
    NMITEMACTIVATE activate = {};
    activate.hdr = {list->m_hWnd, 1702, static_cast<UINT>(NM_DBLCLK)};
    activate.iItem = 0;
    SendMessageA(main->m_hWnd, WM_NOTIFY, 1702, reinterpret_cast<LPARAM>(&activate));
    Settle();
    EXPECT_EQ(list->CurrentPath(), "\\cf0\\data\\");
    session.VerifyDone();
    expectedCalls = 0;
    // Enter on a file does nothing; on a directory it opens it.
    ListView_SetItemState(list->m_hWnd, 1, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list->m_hWnd, WM_KEYDOWN, VK_RETURN, 0);
    Pump(30);
    ExpectListing("\\cf0\\data\\sub\\", 5000, {});
    ExpectListing("\\cf0\\data\\sub\\", 10000, {});
    ListView_SetItemState(list->m_hWnd, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list->m_hWnd, WM_KEYDOWN, VK_RETURN, 0);
    Settle();
    EXPECT_EQ(list->CurrentPath(), "\\cf0\\data\\sub\\");
    // Backspace goes up to a directory the tree has listed already; nothing above a drive's root.
    ExpectListing("\\cf0\\data\\", 10000, {TestEntry("sub", true), TestEntry("file", false)});
    SendMessageA(list->m_hWnd, WM_KEYDOWN, VK_BACK, 0);
    Settle();
    EXPECT_EQ(list->CurrentPath(), "\\cf0\\data\\");
    session.VerifyDone();
    expectedCalls = 0;

    // Ctrl+A selects every row; rows with records refuse label editing.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(list->m_hWnd, WM_KEYDOWN, 'A', 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(list->SelectedEntries().size(), 2u);
    EXPECT_EQ(ListView_EditLabel(list->m_hWnd, 0), nullptr);

    // The menu key raises the context menu at the focused row; Tab moves to the tree and back.
    std::vector<SeenMessage> seen;
    ListView_SetItemState(list->m_hWnd, 1, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list->m_hWnd, WM_KEYDOWN, VK_APPS, 0);
    SetFocus(list->m_hWnd);
    SendMessageA(list->m_hWnd, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), tree->m_hWnd);
    SendMessageA(tree->m_hWnd, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), list->m_hWnd);
}

} // namespace

namespace {

TEST_F(BrowserTest, ShowingAndClearingALargeDirectoryLeavesNothingBehind) {
    FillRoots({});
    Entries entries;
    for (int i = 0; i < 10000; ++i)
        entries.push_back(TestEntry("file" + std::to_string(i * 7919 % 10000) + ".dat", i % 50 == 0, i * 13u));
    std::vector<uint8_t> bytes;
    auto cycle = [&] {
        ExpectListing("\\big\\", 10000, entries);
        Post(list->m_hWnd, UWM_LIST_SHOW_DIR, "\\big\\");
        Settle();
        ASSERT_EQ(list->RowCount(), 10000u);
        UpdateWindow(list->m_hWnd);
        SendMessageA(list->m_hWnd, UWM_VIEW_CLEAR, 0, 0);
        expectedCalls = 0;
    };
    cycle(); // the first show sizes the heaps and the list control's caches
    const size_t heap = HeapBytesInUse();
    const int windows = ThreadWindowCount();
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i)
        cycle();
    EXPECT_EQ(ThreadWindowCount(), windows);
    EXPECT_LT(HeapBytesInUse(), heap + 64 * 1024) << "200 shows of 10,000 rows left memory behind";
    session.VerifyDone();
}

} // namespace
