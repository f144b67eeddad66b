// The tree and the list against a scripted session: listings, finding paths, round trips, order, texts,
// keys, hostile records, and the rows' commands: delete, new directory, send to a folder, shell drops.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "MainWindowFixture.h"
#include "SessionTestSupport.h"
#include "browser/DirectoryEntry.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/ShellTransfer.h"
#include "browser/ConfirmDialog.h"
#include "session/TransferList.h"
#include "browser/resource.h"
#include "framework/PaintBuffer.h"
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

using Entries = std::vector<DirectoryRecord>;

Entries Dirs(std::initializer_list<const char*> names) {
    Entries entries;
    for (const char* name : names)
        entries.push_back(TestEntry(name, true));
    return entries;
}

std::string Listing(const std::string& path, long wait) {
    return "Execute(0x1009,[" + path + "]," + std::to_string(wait) + ")";
}

class BrowserTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        CreateMainWindow(WS_CHILD | WS_VISIBLE);
        treeView = main->TreeView();
        listView = main->ListView();
    }

    // Runs posted messages until the session has seen every expected call; checks the script ran out.
    void Settle() {
        Pump(2000, [&] { return session.ScriptDone(); });
        Pump(20);
        session.VerifyDone();
    }
    void ExpectListing(const std::string& path, long wait, const Entries& entries) {
        session.Expect(Listing(path, wait), 1, MakeListing(entries));
    }
    // The probe, then the root listed for the tree and again for the list once "Internal Flash" is selected.
    void FillRoots(const Entries& root) {
        session.Expect("Execute(0x1002,[],5000)");
        ExpectListing("\\", 5000, root);
        ExpectListing("\\", 10000, root);
        PostMessageA(tree, UWM_TREE_FILL_ROOTS, 0, 0);
        Settle();
    }
    void Post(HWND window, UINT message, const std::string& path) {
        ASSERT_TRUE(PostPath(window, message, path));
    }
    // `call` refused with the session's `text`, which the control shows in its own box.
    void ExpectRefusal(const std::string& call, const wchar_t* text, long code) {
        session.Expect(call, 0);
        session.ExpectErrorInfo(text, code);
        prompts.ExpectBox(std::string(text, text + wcslen(text)), "Dorvex", MB_OK | MB_ICONEXCLAMATION);
    }

    std::string Texts(HTREEITEM first) const {
        std::string texts;
        // Appended in two steps: GCC 12 at -O3 (the 32-bit tree) warns falsely about "," + text.
        for (HTREEITEM item = first; item; item = TreeView_GetNextSibling(tree, item))
            texts.append(texts.empty() ? "" : ",").append(treeView->ItemText(item));
        return texts;
    }
    std::string TopLevel() const { return Texts(TreeView_GetRoot(tree)); }
    std::string Children(HTREEITEM item) const { return Texts(TreeView_GetChild(tree, item)); }
    HTREEITEM Top(const std::string& text) const {
        for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item))
            if (treeView->ItemText(item) == text)
                return item;
        return nullptr;
    }
    HTREEITEM Selected() const { return TreeView_GetSelection(tree); }
    std::string Rows() const {
        std::string rows;
        for (size_t i = 0; i < listView->RowCount(); ++i)
            rows.append(rows.empty() ? "" : ",").append(listView->CellText(i, 0));
        return rows;
    }

    CDorvexTreeView* treeView = nullptr;
    CDorvexListView* listView = nullptr;
};

TEST_F(BrowserTest, TheRootListingGivesTheDrivesInOrderAndTheRestUnderInternalFlashOrSaysThereIsNone) {
    Entries root = Dirs({"SYS", "CF0", "nvram", "Mmc", "USER"});
    root.insert(root.begin() + 2, TestEntry("cf1", false, 12)); // a file, so no "Compact Flash B"
    FillRoots(root);
    EXPECT_EQ(TopLevel(), "Internal Flash,Compact Flash A,NVRAM Disk,MMC A");
    EXPECT_EQ(Children(Top("Internal Flash")), "SYS,USER");
    EXPECT_EQ(treeView->BuildPath(Top("NVRAM Disk")), "\\nvram\\");
    EXPECT_EQ(Selected(), Top("Internal Flash"));
    // Each drive item brings its own image after the two folder images.
    EXPECT_EQ(ImageList_GetImageCount(treeView->ImageList()), 2 + 4);

    // Listing the root again (it is expanded) shows every drive once.
    ExpectListing("\\", 5000, root);
    Post(tree, UWM_TREE_REFRESH_PATH, "\\");
    Settle();
    EXPECT_EQ(TopLevel(), "Internal Flash,Compact Flash A,NVRAM Disk,MMC A");
    EXPECT_EQ(Children(Top("Internal Flash")), "SYS,USER");

    // A new connection clears everything, the drives' images included.
    treeView->ClearTree();
    EXPECT_EQ(TreeView_GetCount(tree), 0u);
    EXPECT_EQ(ImageList_GetImageCount(treeView->ImageList()), 2);

    // A device without a file system: the tree holds only the message, and selecting it lists nothing.
    session.Expect("Execute(0x1002,[],5000)", 0);
    session.ExpectErrorInfo(L"No file system.", 4);
    PostMessageA(tree, UWM_TREE_FILL_ROOTS, 0, 0);
    Pump(100, [&] { return TreeView_GetCount(tree) > 0; });
    EXPECT_EQ(TopLevel(), "No Filesystem present.");
    EXPECT_EQ(TreeView_GetCount(tree), 1u);
    TreeView_SelectItem(tree, TreeView_GetRoot(tree));
    Pump(50);
}

TEST_F(BrowserTest, PathsAreFoundByListingAndExpandingWhatLiesOnTheWay) {
    FillRoots(Dirs({"CF0", "SYS"}));
    // Depth three from an unlisted drive: one listing per level, each directory expanded on the way.
    ExpectListing("\\cf0\\", 5000, Dirs({"Prog"}));
    ExpectListing("\\cf0\\Prog\\", 5000, Dirs({"Sub"}));
    ExpectListing("\\cf0\\Prog\\Sub\\", 5000, {});
    ExpectListing("\\cf0\\Prog\\Sub\\", 10000, {TestEntry("a.txt", false, 1)});
    Post(tree, UWM_TREE_SELECT_PATH, "\\cf0\\Prog\\Sub");
    Settle();
    EXPECT_EQ(treeView->BuildPath(Selected()), "\\cf0\\Prog\\Sub\\");
    HTREEITEM prog = TreeView_GetParent(tree, Selected());
    EXPECT_TRUE(TreeView_GetItemState(tree, prog, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_EQ(Children(Selected()), "") << "a directory without subdirectories keeps no placeholder";

    // The drive is chosen on the folded path, the walk compares with the path as received.
    ExpectListing("\\cf0\\", 10000, Dirs({"Prog"}));
    Post(tree, UWM_TREE_SELECT_PATH, "\\CF0\\");
    Settle();
    EXPECT_EQ(Selected(), Top("Compact Flash A"));
    Post(tree, UWM_TREE_SELECT_PATH, "\\CF0\\Prog\\");
    Post(tree, UWM_TREE_SELECT_PATH, "relative\\path");
    Pump(50);
    EXPECT_EQ(Selected(), Top("Compact Flash A"));

    // A directory that does not exist lists its parent once more and selects nothing.
    ExpectListing("\\SYS\\", 5000, Dirs({"A"}));
    ExpectListing("\\SYS\\", 5000, Dirs({"A"}));
    Post(tree, UWM_TREE_SELECT_PATH, "\\SYS\\Missing\\");
    Settle();
    EXPECT_EQ(Selected(), Top("Compact Flash A"));
    EXPECT_EQ(listView->CurrentPath(), "\\cf0\\");
}

TEST_F(BrowserTest, RefreshListsExpandedItemsAtOnceAndCollapsedOnesAtTheirNextExpansion) {
    FillRoots(Dirs({"SYS"}));
    HTREEITEM sys = TreeView_GetChild(tree, Top("Internal Flash"));
    const auto button = [&](HTREEITEM item) {
        TVITEMA query = {};
        query.mask = TVIF_CHILDREN;
        query.hItem = item;
        return TreeView_GetItem(tree, &query) && query.cChildren != 0;
    };
    // A folder shows its button before it is listed; expanding a directory of files only leaves it
    // without children or button; collapsing lists nothing.
    EXPECT_TRUE(button(sys));
    ExpectListing("\\SYS\\", 5000, {TestEntry("f", false)});
    TreeView_Expand(tree, sys, TVE_EXPAND);
    TreeView_Expand(tree, sys, TVE_COLLAPSE);
    EXPECT_EQ(Children(sys), "");
    EXPECT_FALSE(button(sys));

    Post(tree, UWM_TREE_REFRESH_PATH, "\\SYS\\"); // collapsed: its button back, no listing
    Pump(50);
    EXPECT_EQ(Children(sys), "");
    EXPECT_TRUE(button(sys));
    ExpectListing("\\SYS\\", 5000, Dirs({"New"}));
    TreeView_Expand(tree, sys, TVE_EXPAND);
    EXPECT_EQ(Children(sys), "New");
    ExpectListing("\\SYS\\", 5000, Dirs({"New", "Newer"}));
    Post(tree, UWM_TREE_REFRESH_PATH, "\\SYS"); // expanded: listed again at once
    Settle();
    EXPECT_EQ(Children(sys), "New,Newer");
}

// The cells' texts against the files on disk: SessionEndToEnd's browser test.
TEST_F(BrowserTest, SelectionsStayVisibleWithoutTheFocusWhereTheSchemeDrawsThemInTheWindowsColour) {
    FillRoots({});
    ExpectListing("\\data\\", 10000, {TestEntry("a.txt", false, 1), TestEntry("b.txt", false, 2)});
    Post(list, UWM_LIST_SHOW_DIR, "\\data\\");
    Settle();
    ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
    MoveWindow(main->m_hWnd, 0, 0, 640, 330, FALSE); // the panes side by side
    ShowWindow(frame, SW_SHOW);
    SetFocus(frame);
    // High contrast black: an unfocused selection's button face is the window's black.
    const int elements[] = {COLOR_WINDOW, COLOR_BTNFACE, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT};
    const COLORREF scheme[] = {RGB(0, 0, 0), RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 255, 255), RGB(0, 0, 0)};
    COLORREF saved[5];
    for (int i = 0; i < 5; ++i)
        saved[i] = GetSysColor(elements[i]);
    ASSERT_TRUE(SetSysColors(5, elements, scheme));
    // How much of `rect` in `window` is painted in the selection's colour.
    const auto highlighted = [](HWND window, RECT rect) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC dc = GetDC(window);
        int count = 0;
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                count += GetPixel(dc, x, y) == RGB(0, 255, 255);
        ReleaseDC(window, dc);
        return count;
    };
    RECT item = {}, row = {};
    TreeView_GetItemRect(tree, Selected(), &item, TRUE);
    ListView_GetItemRect(list, 1, &row, LVIR_BOUNDS);
    const int inTree = highlighted(tree, item), inList = highlighted(list, row);
    SetSysColors(5, elements, saved);
    EXPECT_GT(inTree, 20) << "the selected folder vanished into the background";
    EXPECT_GT(inList, 20) << "the selected row vanished into the background";
}

// The list's bitmap: as large as the largest client area yet, clipped to each paint.
TEST(PaintBuffer, OneBitmapAsLargeAsTheClientAreaHasBeenClippedToEachPaint) {
    CPaintBuffer buffer;
    const auto size = [](HDC dc) {
        BITMAP bitmap = {};
        GetObjectA(GetCurrentObject(dc, OBJ_BITMAP), sizeof bitmap, &bitmap);
        return std::make_pair(bitmap.bmWidth, bitmap.bmHeight);
    };
    const auto clip = [](HDC dc) {
        RECT box = {};
        GetClipBox(dc, &box);
        return std::make_pair(std::make_pair(box.left, box.top), std::make_pair(box.right, box.bottom));
    };
    HDC dc = buffer.Begin({10, 20, 30, 40}, 100, 50);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(size(dc), std::make_pair(100L, 50L));
    EXPECT_EQ(clip(dc), std::make_pair(std::make_pair(10L, 20L), std::make_pair(30L, 40L)));
    EXPECT_EQ(buffer.Begin({0, 0, 80, 50}, 80, 50), dc) << "kept for a smaller area";
    EXPECT_EQ(clip(dc), std::make_pair(std::make_pair(0L, 0L), std::make_pair(80L, 50L))) << "the last paint's clip";
    dc = buffer.Begin({0, 0, 5, 5}, 90, 60);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(size(dc), std::make_pair(100L, 60L)) << "grown where it fell short";
    EXPECT_EQ(buffer.Begin({0, 0, 5, 5}, 0, 60), nullptr) << "nothing to paint into";
}

TEST_F(BrowserTest, TheScreenShowsWhatTheListDrawsAfterWholePartialAndResizedPaints) {
    FillRoots({});
    Entries entries;
    for (int i = 0; i < 40; ++i)
        entries.push_back(TestEntry("file" + std::to_string(i), i % 3 == 0, 1000u * i));
    ExpectListing("\\data\\", 10000, entries);
    Post(list, UWM_LIST_SHOW_DIR, "\\data\\");
    Settle();
    MoveWindow(main->m_hWnd, 0, 0, 640, 330, FALSE); // the panes side by side
    ShowWindow(frame, SW_SHOW);
    // The rows as they are on the screen, and as the list view draws them into a bitmap of its own, below
    // the header: the number of pixels that differ.
    const auto differing = [&] {
        UpdateWindow(list);
        RECT client, header;
        GetClientRect(list, &client);
        GetWindowRect(ListView_GetHeader(list), &header);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof info.bmiHeader, client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits[2] = {};
        HDC screen = GetDC(list), memory = CreateCompatibleDC(screen);
        HBITMAP shown = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits[0], nullptr, 0);
        HBITMAP drawn = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits[1], nullptr, 0);
        HGDIOBJ original = SelectObject(memory, shown);
        BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
        SelectObject(memory, drawn);
        SendMessageA(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_ERASEBKGND | PRF_CLIENT);
        GdiFlush();
        const auto* a = static_cast<const uint32_t*>(bits[0]);
        const auto* b = static_cast<const uint32_t*>(bits[1]);
        int count = 0;
        for (int i = (header.bottom - header.top) * client.right; i < client.right * client.bottom; ++i)
            count += a[i] != b[i];
        SelectObject(memory, original);
        DeleteObject(shown);
        DeleteObject(drawn);
        DeleteDC(memory);
        ReleaseDC(list, screen);
        return count;
    };
    EXPECT_EQ(differing(), 0);
    // Half of one row drawn again, selected; then the list made larger, its new part drawn.
    RECT row = {};
    ListView_GetItemRect(list, 4, &row, LVIR_BOUNDS);
    ListView_SetItemState(list, 4, LVIS_SELECTED, LVIS_SELECTED);
    ValidateRect(list, nullptr);
    row.right = (row.left + row.right) / 2;
    InvalidateRect(list, &row, TRUE);
    EXPECT_EQ(differing(), 0) << "part of a row";
    RECT size;
    GetWindowRect(list, &size);
    for (int change : {-60, 40}) { // smaller, then larger than it was just drawn
        SetWindowPos(list, nullptr, 0, 0, size.right - size.left + change - 60, size.bottom - size.top + change - 60,
                     SWP_NOMOVE | SWP_NOZORDER);
        InvalidateRect(list, nullptr, TRUE); // the list view leaves parts of its new layout undrawn
        EXPECT_EQ(differing(), 0) << "after a resize by " << change;
    }
    // A list left alone gives its bitmap back, and the next paint makes one again.
    EXPECT_GT(listView->PaintBufferBytes(), 0u);
    Pump(5000, [&] { return listView->PaintBufferBytes() == 0; });
    EXPECT_EQ(listView->PaintBufferBytes(), 0u) << "the bitmap was kept";
    InvalidateRect(list, nullptr, TRUE);
    EXPECT_EQ(differing(), 0) << "after the bitmap was given back";
    EXPECT_GT(listView->PaintBufferBytes(), 0u);
}

TEST_F(BrowserTest, TheListShowsSortedRowsResortsOnHeaderClicksAndListsOnlyWhenNeeded) {
    FillRoots({});
    Entries entries = {TestEntry("b.txt", false, 3000000000u), TestEntry("Zed", true),
                       TestEntry("_x", false, 5), TestEntry("alpha", true)};
    ExpectListing("\\data\\", 10000, entries);
    Post(list, UWM_LIST_SHOW_DIR, "\\data\\");
    Settle();
    EXPECT_EQ(Rows(), "alpha,Zed,_x,b.txt");
    // What the list control draws comes from the rows: text and icon.
    char text[64] = "";
    ListView_GetItemText(list, 3, 1, text, sizeof text);
    EXPECT_STREQ(text, "3000000000");
    // A wide cell longer than the list's buffer comes cut, not blank.
    wchar_t cut[4] = L"???";
    NMLVDISPINFOW display = {};
    display.hdr = {list, 1702, static_cast<UINT>(LVN_GETDISPINFOW)};
    display.item.mask = LVIF_TEXT;
    display.item.pszText = cut;
    display.item.cchTextMax = 4;
    SendMessageA(main->m_hWnd, WM_NOTIFY, 1702, reinterpret_cast<LPARAM>(&display));
    EXPECT_STREQ(cut, L"alp");
    LVITEMA folder = {}, document = {};
    folder.mask = document.mask = LVIF_IMAGE;
    document.iItem = 3;
    ListView_GetItem(list, &folder);
    ListView_GetItem(list, &document);
    EXPECT_EQ(std::make_pair(folder.iImage, document.iImage), std::make_pair(0, 1)) << "folder, document";

    // A click on "Name" reverses everything; the arrow follows the primary column and its direction.
    HWND header = ListView_GetHeader(list);
    auto arrow = [&](int column) {
        HDITEMA h = {};
        h.mask = HDI_FORMAT;
        Header_GetItem(header, column, &h);
        return h.fmt & (HDF_SORTUP | HDF_SORTDOWN);
    };
    EXPECT_EQ(arrow(0), HDF_SORTUP);
    NMLISTVIEW click = {};
    click.hdr = {list, 1702, static_cast<UINT>(LVN_COLUMNCLICK)};
    SendMessageA(main->m_hWnd, WM_NOTIFY, 1702, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(Rows(), "b.txt,_x,Zed,alpha");
    EXPECT_EQ(arrow(0), HDF_SORTDOWN);

    // The selection follows its records through a re-sort.
    ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
    listView->SortByColumn(0);
    ASSERT_EQ(listView->SelectedEntries().size(), 1u);
    EXPECT_EQ(listView->SelectedEntries()[0]->Name(), "b.txt");
    EXPECT_EQ(Rows(), "alpha,Zed,_x,b.txt") << "ascending by name again";

    // Listings are made only when needed; a refusal is shown once.
    ExpectListing("\\d\\", 10000, {TestEntry("f", false)});
    Post(list, UWM_LIST_SHOW_DIR, "\\d\\"); // the same one again lists nothing: MainWndTest.HeapObjects...
    Settle();
    // F5 lists again; a refusal says why once and leaves the list empty, still accepting drops.
    ExpectRefusal(Listing("\\d\\", 10000), L"The directory is gone.", 12);
    SendMessageA(list, WM_KEYDOWN, VK_F5, 0);
    Pump(100, [&] { return listView->RowCount() == 0; });
    Pump(20);
    EXPECT_EQ(ListView_GetItemCount(list), 0);
    EXPECT_TRUE(GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    // Clearing forgets the directory and refuses drops.
    SendMessageA(list, UWM_VIEW_CLEAR, 0, 0);
    EXPECT_EQ(listView->CurrentPath(), "");
    EXPECT_FALSE(GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(BrowserTest, HostileRecordsAreLeftOutOfBothViews) {
    Entries root = Dirs({"ok", "", ".", "..", "a\\b", "c/d"});
    root.push_back(TestEntry(std::string(256, 'x'), true)); // no NUL in the name field
    FillRoots(root);
    EXPECT_EQ(Children(Top("Internal Flash")), "ok");
    EXPECT_EQ(Rows(), "ok");
    // Elements that are not whole records are skipped too.
    CParamBlock block;
    block.At(0).SetRecord(PK_RECORD5, TestEntry("short", false).bytes, 100);
    block.At(1).SetText("not a record");
    block.At(2).SetTypedRecord(PK_RECORD5, TestEntry("whole", false).bytes);
    SAFEARRAY* odd = nullptr;
    ASSERT_EQ(SafeArrayCopy(*block.ExportArray(), &odd), S_OK);
    session.Expect(Listing("\\odd\\", 10000), 1, odd);
    Post(list, UWM_LIST_SHOW_DIR, "\\odd\\");
    Settle();
    EXPECT_EQ(Rows(), "whole");
}

TEST_F(BrowserTest, KeysAndClicksOpenDirectoriesMoveUpSelectAndRaiseTheMenu) {
    FillRoots(Dirs({"cf0"}));
    const Entries cf0 = {TestEntry("data", true), TestEntry("file", false)};
    ExpectListing("\\cf0\\", 10000, cf0);
    Post(tree, UWM_TREE_SELECT_PATH, "\\cf0\\");
    Settle();
    // Ctrl+A selects every row; rows with records refuse label editing.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(list, WM_KEYDOWN, 'A', 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(listView->SelectedEntries().size(), 2u);
    EXPECT_EQ(ListView_EditLabel(list, 0), nullptr);
    // Typing a name's first letter moves the focus to it, whatever its case.
    ListView_SetItemState(list, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list, WM_CHAR, 'F', 1); // a real key's data: repeat count 1
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 1);

    // The menu key raises the focused row's menu with the selection's commands; Tab goes to the tree, back.
    prompts.ExpectMenu({"&Delete File(s)", "&Send File(s) To...", "-", "&New Directory", "-", "&Copy",
                        "&Paste (greyed)"}, 0);
    ListView_SetItemState(list, 1, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list, WM_KEYDOWN, VK_APPS, 0);
    SetFocus(list);
    SendMessageA(list, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), tree);
    SendMessageA(tree, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), list);

    // Enter on the focused file does nothing; on a directory it asks the tree for it.
    SendMessageA(list, WM_KEYDOWN, VK_RETURN, 0);
    Pump(30);
    // Alt+Delete and Alt+Enter are the system's: nothing is asked or listed. Of the system keys only
    // Shift+F10 is the list's.
    ListView_SetItemState(list, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list, WM_SYSKEYDOWN, VK_DELETE, 1 << 29);
    SendMessageA(list, WM_SYSKEYDOWN, VK_RETURN, 1 << 29);
    Pump(30);
    prompts.ExpectMenu({"&Delete File(s)", "&Send File(s) To...", "-", "&New Directory", "-", "&Copy",
                        "&Paste (greyed)"}, 0);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(list, WM_SYSKEYDOWN, VK_F10, 0);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    prompts.VerifyDone();
    ExpectListing("\\cf0\\", 5000, Dirs({"data"}));
    ExpectListing("\\cf0\\data\\", 5000, {});
    ExpectListing("\\cf0\\data\\", 10000, {});
    ListView_SetItemState(list, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageA(list, WM_KEYDOWN, VK_RETURN, 0);
    Settle();
    // Backspace goes up to a directory the tree has listed already (each listing is the script's).
    ExpectListing("\\cf0\\", 10000, cf0);
    SendMessageA(list, WM_KEYDOWN, VK_BACK, 0);
    Settle();
    // A double-click on a directory row opens it as Enter does (through the main window's notification).
    ExpectListing("\\cf0\\data\\", 10000, {});
    NMITEMACTIVATE activate = {};
    activate.hdr = {list, 1702, static_cast<UINT>(NM_DBLCLK)};
    SendMessageA(main->m_hWnd, WM_NOTIFY, 1702, reinterpret_cast<LPARAM>(&activate));
    Settle();
}

TEST_F(BrowserTest, ShowingAndClearingALargeDirectoryLeavesNothingBehind) {
    FillRoots({});
    Entries entries;
    for (int i = 0; i < 10000; ++i)
        entries.push_back(
            TestEntry("file" + std::to_string(i * 7919 % 10000) + ".dat", i % 50 == 0, i * 13u));
    auto cycle = [&] {
        ExpectListing("\\big\\", 10000, entries);
        Post(list, UWM_LIST_SHOW_DIR, "\\big\\");
        Settle();
        ASSERT_EQ(listView->RowCount(), 10000u);
        UpdateWindow(list);
        SendMessageA(list, UWM_VIEW_CLEAR, 0, 0);
    };
    cycle(); // the first show sizes the heaps and the list control's caches
    const size_t heap = HeapBytesInUse();
    const int windows = ThreadWindowCount();
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i)
        cycle();
    EXPECT_EQ(ThreadWindowCount(), windows);
    EXPECT_LT(HeapBytesInUse(), heap + 64 * 1024) << "200 shows of 10,000 rows left memory behind";
}

// 100,000 entries, an answer of 79 MB in one piece, shown whole and sorted; the 32-bit group runs it in
// the module's own bitness.
TEST_F(BrowserTest, AHundredThousandEntriesAreShownWholeAndSorted) {
    FillRoots({});
    constexpr uint32_t kCount = 100000;
    const uint32_t bytes = kCount * (8 + DirectoryRecord::kSize) + 4;
    SAFEARRAY* answer = SafeArrayCreateVector(VT_UI1, 0, bytes); // built in place, as a session would
    ASSERT_NE(answer, nullptr);
    uint8_t* at = nullptr;
    ASSERT_EQ(SafeArrayAccessData(answer, reinterpret_cast<void**>(&at)), S_OK);
    for (uint32_t i = 0; i < kCount; ++i) {
        const uint32_t header[2] = {PK_RECORD5, DirectoryRecord::kSize};
        at = std::copy_n(reinterpret_cast<const uint8_t*>(header), sizeof header, at);
        at = std::copy_n(TestEntry("entry" + std::to_string(kCount - i), false, i % 1000).bytes,
                         DirectoryRecord::kSize, at);
    }
    const uint32_t end = PK_END;
    std::copy_n(reinterpret_cast<const uint8_t*>(&end), sizeof end, at);
    SafeArrayUnaccessData(answer);
    session.Expect(Listing("\\big\\", 10000), 1, answer);
    Post(list, UWM_LIST_SHOW_DIR, "\\big\\");
    Pump(120000, [&] { return session.ScriptDone() && listView->RowCount() == kCount; });
    Settle();
    ASSERT_EQ(listView->RowCount(), kCount);
    EXPECT_EQ(ListView_GetItemCount(list), static_cast<int>(kCount));
    EXPECT_EQ(listView->CellText(0, 0), "entry1");
    EXPECT_EQ(listView->CellText(kCount - 1, 0), "entry99999");
    for (size_t i = 1; i < kCount; ++i)
        ASSERT_LT(listView->Row(i - 1)->Name(), listView->Row(i)->Name()) << "row " << i;
    listView->SortByColumn(kColumnSize);
    for (size_t i = 1; i < kCount; ++i)
        ASSERT_LE(listView->Row(i - 1)->Size(), listView->Row(i)->Size()) << "row " << i;
}

std::string ItemsText(const CTransferList& list) {
    std::string out;
    for (const TransferItem& item : list.items)
        out += item.source + " > " + item.destination + "\n";
    return out;
}

class CommandsTest : public BrowserTest {
protected:
    // Creates `relative` in the local folder (directories end with a backslash); its whole path.
    std::string Add(const std::string& relative) const {
        const std::string path = local / relative;
        path.back() == '\\' ? sessiontest::MakeDirs(path) : sessiontest::WriteFileText(path, "");
        return path;
    }
    void Show(const std::string& path, const Entries& entries) {
        ExpectListing(path, 10000, entries);
        Post(list, UWM_LIST_SHOW_DIR, path);
        Settle();
    }
    void Select(std::initializer_list<int> rows) {
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
        for (int row : rows)
            ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
    }
    void Command(UINT id) { SendMessageA(list, WM_COMMAND, id, 0); }
    // What a command left posted, taken before it runs: the tree's refresh and the list's reload.
    std::string Posted() {
        MSG msg;
        std::string out = "no refresh";
        if (PeekMessageA(&msg, tree, UWM_TREE_REFRESH_PATH, UWM_TREE_REFRESH_PATH, PM_REMOVE))
            out = "refresh " + *TakePath(msg.lParam);
        const bool reload = PeekMessageA(&msg, list, UWM_LIST_SHOW_DIR, UWM_LIST_SHOW_DIR, PM_REMOVE);
        return out + (reload && !msg.lParam ? ", reload" : ", no reload");
    }
    std::unique_ptr<CTransferList> PostedList() {
        MSG msg;
        if (!PeekMessageA(&msg, main->m_hWnd, UWM_TRANSFER_START, UWM_TRANSFER_START, PM_REMOVE))
            return nullptr;
        return TakeTransferList(msg.lParam);
    }
    // A real shell drop of `paths` at (5, 7), posted to the list and dispatched; the list it posted.
    std::unique_ptr<CTransferList> Drop(std::initializer_list<std::string> paths) {
        size_t size = sizeof(DROPFILES) + 1;
        for (const std::string& path : paths)
            size += path.size() + 1;
        HGLOBAL memory = GlobalAlloc(GHND, size);
        auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
        header->pFiles = sizeof(DROPFILES);
        header->pt = {5, 7};
        char* at = reinterpret_cast<char*>(header + 1);
        for (const std::string& path : paths)
            at = std::copy(path.begin(), path.end(), at) + 1;
        GlobalUnlock(memory);
        PostMessageA(list, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
        MSG msg;
        while (PeekMessageA(&msg, list, WM_DROPFILES, WM_DROPFILES, PM_REMOVE))
            DispatchMessageA(&msg);
        return PostedList();
    }
    // The delete of `path`, refused with `refusal` when one is given.
    void ExpectDelete(const std::string& path, bool directory = false, const wchar_t* refusal = nullptr,
                      long code = 0) {
        const std::string call =
            directory ? "Execute(0x100D,[" + path + ",true],10000)" : "Execute(0x100A,[" + path + "],10000)";
        if (refusal)
            ExpectRefusal(call, refusal, code);
        else
            session.Expect(call);
    }
    void Verify() {
        session.VerifyDone();
        prompts.VerifyDone();
    }

    sessiontest::CTempFolder local{"cmds"};
};

TEST_F(CommandsTest, DeleteAsksAboutEachEntryDirectoriesTwiceAndTheAnswersHoldForTheWholeRun) {
    const Entries entries = {TestEntry("a", false), TestEntry("b", false), TestEntry("c", false),
                             TestEntry("d1", true), TestEntry("f", false), TestEntry("d2", true),
                             TestEntry("g", false)};
    Show("\\data\\", entries);
    // Every question is owned by the host's top-level window, centred on it, with the host disabled.
    std::vector<std::string> seen;
    bool intrude = false;
    prompts.onDialog = [&](HWND dialog) {
        RECT owner, box;
        GetWindowRect(frame, &owner);
        GetWindowRect(dialog, &box);
        const bool centred = std::abs((owner.left + owner.right) - (box.left + box.right)) <= 2 &&
                             std::abs((owner.top + owner.bottom) - (box.top + box.bottom)) <= 2;
        seen.push_back(std::string(GetWindow(dialog, GW_OWNER) == frame ? "owned" : "not owned") +
                       (IsWindowEnabled(frame) ? ", host enabled" : ", host disabled") +
                       (centred ? ", centred" : ", not centred"));
        // What a click in the tree would do if one got through: another directory shown meanwhile.
        if (std::exchange(intrude, false))
            SendMessageA(list, UWM_LIST_SHOW_DIR, 0, reinterpret_cast<LPARAM>(new std::string("\\other\\")));
    };
    Select({2, 3, 4}); // after the directories d1 and d2
    prompts.ExpectDialog("Confirm", "Delete a?", IDC_CONFIRM_YES);
    prompts.ExpectDialog("Confirm", "Delete b?", IDC_CONFIRM_NO);
    prompts.ExpectDialog("Confirm", "Delete c?", IDC_CONFIRM_YES);
    ExpectDelete("\\data\\a");
    ExpectDelete("\\data\\c");
    Command(CDorvexListView::kDeleteCommand);
    EXPECT_EQ(Posted(), "refresh \\data\\, reload");
    Verify();
    // "Yes to ALL" asks no more; the Delete key does what the command does.
    prompts.ExpectDialog("Confirm", "Delete a?", IDC_CONFIRM_YES_ALL);
    ExpectDelete("\\data\\a");
    ExpectDelete("\\data\\b");
    ExpectDelete("\\data\\c");
    SendMessageA(list, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(Posted(), "refresh \\data\\, reload");
    Verify();
    // "No to ALL" ends the run at once: no refresh of the tree, but the list is read again. Escape is "No".
    prompts.ExpectDialog("Confirm", "Delete a?", IDCANCEL);
    prompts.ExpectDialog("Confirm", "Delete b?", IDC_CONFIRM_NO_ALL);
    Command(CDorvexListView::kDeleteCommand);
    EXPECT_EQ(Posted(), "no refresh, reload");
    Verify();

    // A directory is asked about again; a refusal is shown while the run goes on, which stays in the
    // directory it started in whatever is shown meanwhile.
    Select({0, 1, 5, 6}); // d1, d2, f, g
    intrude = true;
    ExpectListing("\\other\\", 10000, entries);
    const UINT yesNo = MB_YESNO;
    prompts.ExpectDialog("Confirm", "Delete d1?", IDC_CONFIRM_YES_ALL);
    prompts.ExpectBox("Delete Directory d1 and all sub directories and files?", "Confirm", yesNo, IDYES);
    ExpectDelete("\\data\\d1", true, L"Directory is in use", 12);
    prompts.ExpectBox("Delete Directory d2 and all sub directories and files?", "Confirm", yesNo, IDNO);
    ExpectDelete("\\data\\f", false, L"File is read-only", 13);
    ExpectDelete("\\data\\g");
    Command(CDorvexListView::kDeleteCommand);
    EXPECT_EQ(Posted(), "refresh \\data\\, reload");
    EXPECT_EQ(seen, std::vector<std::string>(7, "owned, host disabled, centred"));
    EXPECT_EQ(prompts.owners, std::vector<HWND>(4, frame)) << "the boxes are the top-level window's";
}

TEST_F(CommandsTest, ALongQuestionMakesTheDialogTallerAndKeepsTheWholeName) {
    const std::string name(255, 'W');
    RECT text = {}, yes = {}, client = {};
    prompts.onDialog = [&](HWND dialog) {
        GetWindowRect(GetDlgItem(dialog, IDC_CONFIRM_TEXT), &text);
        GetWindowRect(GetDlgItem(dialog, IDC_CONFIRM_YES), &yes);
        GetClientRect(dialog, &client);
        MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    };
    prompts.ExpectDialog("Confirm", "Delete " + name + "?", IDC_CONFIRM_YES);
    EXPECT_EQ(CConfirmDialog("Delete " + name + "?").DoModal(list), CConfirmDialog::kYes);
    EXPECT_GT(text.bottom - text.top, 2 * 20) << "the text did not get more lines than the field's two";
    EXPECT_LE(text.bottom, yes.top);
    EXPECT_LE(yes.bottom, client.bottom);
}

TEST_F(CommandsTest, TheMenuWithoutSelectionOffersANewDirectoryEditedInPlace) {
    Show("\\data\\", {TestEntry("old", true)});
    const auto begin = [&] {
        prompts.ExpectMenu({"&New Directory", "-", "&Copy (greyed)", "&Paste (greyed)"},
                           CDorvexListView::kNewDirectoryCommand);
        SendMessageA(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(20, 20));
        EXPECT_EQ(listView->CellText(1, 0), "New Folder");
        return ListView_GetEditControl(list);
    };
    // Escape leaves no trace.
    SendMessageA(begin(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(listView->RowCount(), 1u);
    EXPECT_EQ(Posted(), "no refresh, no reload");
    Verify();
    // Enter as offered asks for "New Folder"; a refusal is shown and the row goes.
    HWND edit = begin();
    session.Expect("Execute(0x1007,[\\data\\],10000)");
    ExpectRefusal("Execute(0x1003,[New Folder],10000)", L"Directory exists", 17);
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(listView->RowCount(), 1u);
    EXPECT_EQ(Posted(), "no refresh, no reload");
    Verify();
    // A typed name goes as typed; the tree and the list follow.
    edit = begin();
    session.Expect("Execute(0x1007,[\\data\\],10000)");
    session.Expect("Execute(0x1003,[ new one ],10000)");
    SetWindowTextA(edit, " new one ");
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(Posted(), "refresh \\data\\, reload");
}

TEST_F(CommandsTest, SendWalksTheTreeLocalDirectoriesFirstAndNoHostileNameLeavesTheFolder) {
    const std::string d = Add("dest\\"); // the destination, with its backslash
    Show("\\data\\", {TestEntry("top.bin", false), TestEntry("tree", true), TestEntry("CON", false)});
    Select({0, 1, 2});
    prompts.ExpectFolder("Select Destination", local.Path() + "\\dest");
    // An entry no listing can address, a name no local folder holds (see LocalName), a local path too long.
    const Entries hostile = {TestEntry("a\\..\\..\\x", false), TestEntry("c:evil", true),
                             TestEntry(std::string(240, 'L'), false)};
    Entries top = hostile, sub = hostile;
    top.insert(top.end(), {TestEntry("a.txt", false), TestEntry("empty", true), TestEntry("sub", true)});
    sub.insert(sub.begin(), TestEntry("b.txt", false));
    session.Expect(Listing("\\data\\tree", 10000), 1, MakeListing(top));
    session.Expect(Listing("\\data\\tree\\empty", 10000), 1, MakeListing({}));
    session.Expect(Listing("\\data\\tree\\sub", 10000), 1, MakeListing(sub));
    // Local directories exist before the batch is handed over.
    Command(CDorvexListView::kSendCommand);
    std::unique_ptr<CTransferList> sent = PostedList();
    ASSERT_TRUE(sent);
    EXPECT_EQ(ItemsText(*sent), "\\data\\tree\\a.txt > " + d + "tree\\\n" + "\\data\\tree\\sub\\b.txt > " +
                                    d + "tree\\sub\\\n" + "\\data\\top.bin > " + d + "\n");
    EXPECT_EQ(sent->items.size(), 3u);
    EXPECT_EQ(sent->direction, 0);
    EXPECT_EQ(sessiontest::Snapshot(local.Path()),
              (std::vector<std::string>{"\\dest\\", "\\dest\\tree\\", "\\dest\\tree\\empty\\",
                                        "\\dest\\tree\\sub\\"}));
    // Each hostile entry is told at each depth (unaddressable: in its listing's summary); CON once, selected.
    size_t named = 0, summaries = 0;
    for (const auto& [what, why] : sent->skipped) {
        EXPECT_FALSE(why.empty()) << what;
        (what.back() == '\\' ? summaries : named) += 1;
    }
    EXPECT_EQ(summaries, 2u);
    EXPECT_EQ(named, 2u * 2 + 1);
    EXPECT_EQ(std::count_if(sent->skipped.begin(), sent->skipped.end(),
                            [](const auto& skip) { return skip.first == "\\data\\CON"; }),
              1);

    // Dragged out or copied, the same entries go into the control's own folder and no further: the walk's
    // directories, the items' destinations and the files offered to the shell (CON is none of them).
    struct : ITransferStarter {
        std::vector<std::string> destinations;
        void StartTransfer(std::unique_ptr<CTransferList> batch) override {
            // As the session would: each file arrives where its item says.
            for (const TransferItem& item : batch->items) {
                destinations.push_back(item.destination);
                sessiontest::WriteFileText(item.destination + item.source.substr(item.source.rfind('\\') + 1), "");
            }
            batch->completed = true;
        }
    } starter;
    auto downloader = std::make_shared<CDeviceDownloader>();
    downloader->Attach(&main->Session(), &starter, list);
    session.Expect(Listing("\\data\\tree", 10000), 1, MakeListing(top));
    session.Expect(Listing("\\data\\tree\\empty", 10000), 1, MakeListing({}));
    session.Expect(Listing("\\data\\tree\\sub", 10000), 1, MakeListing(sub));
    CComPtr<IDataObject> data = MakeDeviceData(downloader, main->ListView()->Selection());
    const std::vector<std::string> files = DataFiles(data.Get());
    ASSERT_EQ(files.size(), 2u);
    const std::string folder = files[0].substr(0, files[0].rfind('\\'));
    EXPECT_EQ(files, (std::vector<std::string>{folder + "\\tree", folder + "\\top.bin"}));
    EXPECT_EQ(starter.destinations, (std::vector<std::string>{folder + "\\tree\\", folder + "\\tree\\sub\\",
                                                              folder + "\\"}));
    EXPECT_EQ(sessiontest::Snapshot(folder),
              (std::vector<std::string>{"\\top.bin 0", "\\tree\\", "\\tree\\a.txt 0", "\\tree\\empty\\",
                                        "\\tree\\sub\\", "\\tree\\sub\\b.txt 0"}));
    data.Release();
    EXPECT_FALSE(sessiontest::DirExists(folder)) << "the copies outlived their data object";
}

TEST_F(CommandsTest, ARefusedOrCancelledWalkStartsNoTransferAndALongOneShowsItsProgress) {
    Show("\\data\\", {TestEntry("d", true), TestEntry("big", true)});
    // A cancelled folder browser starts nothing; a refused listing says why and that nothing starts.
    Select({1});
    prompts.ExpectFolder("Select Destination", std::nullopt);
    Command(CDorvexListView::kSendCommand);
    EXPECT_EQ(PostedList(), nullptr);
    Verify();
    prompts.ExpectFolder("Select Destination", local.Path());
    ExpectRefusal(Listing("\\data\\d", 10000), L"No such directory", 3);
    prompts.ExpectBox("Transfer will not be started.", "Dorvex", MB_OK | MB_ICONEXCLAMATION);
    Command(CDorvexListView::kSendCommand);
    EXPECT_EQ(PostedList(), nullptr);
    EXPECT_EQ(sessiontest::Snapshot(local.Path()), std::vector<std::string>{"\\d\\"});
    Verify();

    // A long walk shows its progress only after 200 listings and stops at its Cancel.
    Select({0});
    prompts.ExpectFolder("Select Destination", local.Path());
    Entries many;
    for (int i = 0; i < 300; ++i)
        many.push_back(TestEntry(std::string("d").append(std::to_string(i)), true));
    session.Expect(Listing("\\data\\big", 10000), 1, MakeListing(many));
    constexpr int kCancelAt = 205;
    for (int i = 0; i + 1 < kCancelAt; ++i)
        session.Expect(Listing("\\data\\big\\d" + std::to_string(i), 10000), 1, MakeListing({}));
    int listings = 0;
    bool shownEarly = false, enabledMeanwhile = true, centred = false;
    DWORD clicked = 0;
    session.onCall = [&](const std::string&) {
        HWND progress = FindWindowA("#32770", "Dorvex");
        shownEarly |= ++listings <= 200 && progress;
        // Input for the host while the progress is up goes nowhere, now or later, as under a modal box.
        if (listings == 201 && progress) {
            enabledMeanwhile = IsWindowEnabled(frame);
            RECT box, owner;
            GetWindowRect(progress, &box);
            GetWindowRect(frame, &owner);
            centred = std::abs(box.left + box.right - owner.left - owner.right) <= 2 &&
                      std::abs(box.top + box.bottom - owner.top - owner.bottom) <= 2;
            PostMessageA(tree, WM_LBUTTONDOWN, MK_LBUTTON, 0);
            PostMessageA(tree, WM_KEYDOWN, VK_DOWN, 0);
        }
        if (listings == kCancelAt && progress) {
            clicked = GetTickCount();
            PostMessageA(GetDlgItem(progress, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
        }
    };
    Command(CDorvexListView::kSendCommand);
    const DWORD stopped = GetTickCount();
    session.onCall = nullptr;
    EXPECT_FALSE(shownEarly);
    ASSERT_NE(clicked, 0u) << "no progress window after 200 listings";
    EXPECT_LT(stopped - clicked, 100u);
    EXPECT_EQ(PostedList(), nullptr);
    EXPECT_EQ(FindWindowA("#32770", "Dorvex"), nullptr);
    EXPECT_FALSE(enabledMeanwhile) << "the host's window took input during the walk";
    EXPECT_TRUE(IsWindowEnabled(frame));
    EXPECT_TRUE(centred) << "the progress is not centred on the host's window";
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, tree, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) ||
                 PeekMessageA(&msg, tree, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE))
        << "input from the walk's time is still queued";
}

TEST_F(CommandsTest, DropsBecomeUploadsAndOneFileOfAKnownKindOffersItsOperations) {
    Show("\\cf0\\data\\", {});
    EXPECT_EQ(session.FireComplete(0, 0x5400, true, MakeBlock({"*.fwx"})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x740A, true, MakeBlock({"*.prgx"})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x8804, true, MakeBlock({"*.fwx"})), S_OK);
    const std::string firmware = Add("MAIN.fwx"), plain = Add("plain.txt");
    Add("SET1\\A.TXT");
    Add("SET1\\SUB\\B.TXT");
    Add("ONE\\only.prgx");
    Add("EMPTY\\");
    const std::vector<std::string> fileMenu = {"Transfer File", "Update Firmware", "Load Display List"};
    prompts.ExpectMenu(fileMenu, 0x8801);
    auto sent = Drop({firmware});
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->operation, 0x8801u);
    EXPECT_EQ(sent->direction, 1);
    EXPECT_EQ(ItemsText(*sent), firmware + " > \\cf0\\data\\\n");
    // Dismissed: nothing is handed over.
    prompts.ExpectMenu(fileMenu, 0);
    EXPECT_EQ(Drop({firmware}), nullptr);
    // A folder with one file: that file is tested, "Transfer File" is a plain upload.
    prompts.ExpectMenu({"Transfer File", "Load Program"}, 0x1800);
    sent = Drop({local.Path() + "\\ONE"});
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->operation, 0u);
    EXPECT_EQ(ItemsText(*sent), local.Path() + "\\ONE\\only.prgx > \\cf0\\data\\ONE\\\n");
    // No menu for a file of no known kind, nor for two files, nor for a folder's tree.
    EXPECT_EQ(ItemsText(*Drop({plain})), plain + " > \\cf0\\data\\\n");
    EXPECT_EQ(ItemsText(*Drop({firmware, plain})),
              firmware + " > \\cf0\\data\\\n" + plain + " > \\cf0\\data\\\n");
    sent = Drop({local.Path() + "\\SET1"});
    EXPECT_EQ(ItemsText(*sent), local.Path() + "\\SET1\\A.TXT > \\cf0\\data\\SET1\\\n" + local.Path() +
                                    "\\SET1\\SUB\\B.TXT > \\cf0\\data\\SET1\\SUB\\\n");
    // An empty folder gives an empty batch.
    sent = Drop({local.Path() + "\\EMPTY"});
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->items.size(), 0u);
}

} // namespace
