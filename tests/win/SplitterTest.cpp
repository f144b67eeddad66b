// The splitter bar inside the main window, driven by the mouse messages a user's drag produces: where bar
// and panes land, the parent's notification, the mouse capture, the cursor over the bar; and the layout
// the main window keeps for the next one.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "MainWindowFixture.h"
#include "browser/LayoutSettings.h"
#include "mainwnd/Messages.h"

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

// Counts the notifications the main window gets, then lets it handle them as usual.
int g_moved = 0;
WNDPROC g_mainProc = nullptr;
LRESULT CALLBACK CountMoves(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UWM_SPLITTER_MOVED)
        ++g_moved;
    return CallWindowProcA(g_mainProc, window, msg, wParam, lParam);
}

const char kLayoutKey[] = "Software\\Dorvex\\Browser";

std::vector<int> Values(const BrowserLayout& layout) {
    return {layout.splitterPosition, layout.columnWidths[0], layout.columnWidths[1], layout.columnWidths[2]};
}

// 32-bit values as the registry keeps them.
std::vector<BYTE> Bytes(std::initializer_list<INT32> values) {
    std::vector<BYTE> bytes(values.size() * sizeof(INT32));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

class SplitterTest : public MainWindowFixture {
protected:
    // The main window as the control makes and shows it, 640 x 330, its notifications counted.
    void SetUp() override {
        MainWindowFixture::SetUp();
        const RECT size = {0, 0, 640, 330};
        CreateMainWindow(WS_CHILD, true, &size);
        main->PrepareForDisplay();
        bar = GetDlgItem(main->m_hWnd, 1701);
        g_moved = 0;
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(main->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountMoves)));
    }

    // A mouse message's point: (x, y) of the main window's client area in the bar's client coordinates.
    LPARAM At(int x, int y = 40) const {
        POINT point = {x, y};
        MapWindowPoints(main->m_hWnd, bar, &point, 1);
        return MAKELPARAM(point.x, point.y);
    }

    // Grabs the bar and lets it go at `x`, moving the mouse on the way as a hand would.
    void Drag(int x) {
        SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(RectIn(bar, main->m_hWnd).left + 1));
        ASSERT_EQ(GetCapture(), bar) << "the drag must keep the mouse";
        SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(x / 2));
        SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(x));
        SendMessageA(bar, WM_LBUTTONUP, 0, At(x));
        EXPECT_EQ(GetCapture(), nullptr);
    }

    HWND bar = nullptr;
    const int half = GetSystemMetrics(SM_CYFRAME) / 2;
    const int border = GetSystemMetrics(SM_CYBORDER);
};

TEST_F(SplitterTest, ADragMovesBarAndPanesAndTellsTheParentOnce) {
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 200 - half) << "at first centred on the tree's 200 pixels";
    Drag(350);
    const RECT moved = RectIn(bar, main->m_hWnd);
    EXPECT_EQ(moved.left, 350);
    EXPECT_EQ(moved.right, 350 + 2 * half);
    EXPECT_EQ(moved.bottom, 330);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).right, 350 + border);
    EXPECT_EQ(RectIn(list, main->m_hWnd).left, 350 + 2 * half - border);
    EXPECT_EQ(RectIn(list, main->m_hWnd).right, 640);
    EXPECT_EQ(main->Splitter().Position(), 350);
    EXPECT_EQ(g_moved, 1);

    // No drag without a button-down on the bar: a lone button-up, or a press outside it (which only a
    // captured mouse could bring), moves nothing and tells nobody.
    SendMessageA(bar, WM_LBUTTONUP, 0, At(500));
    SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(100));
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(200));
    SendMessageA(bar, WM_LBUTTONUP, 0, At(200));
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 350);
    EXPECT_EQ(g_moved, 1);
}

TEST_F(SplitterTest, TheCursorOverTheBarIsTheResizeCursor) {
    const HCURSOR resize = LoadCursor(nullptr, IDC_SIZEWE);
    // The bar looks where the message it answers was sent from, so the mouse is moved and a message
    // fetched before each question.
    auto cursorAt = [&](int x) {
        POINT screen = {x, 40};
        ClientToScreen(main->m_hWnd, &screen);
        SetCursorPos(screen.x, screen.y);
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        PostMessageA(main->m_hWnd, WM_NULL, 0, 0);
        MSG msg;
        PeekMessageA(&msg, main->m_hWnd, WM_NULL, WM_NULL, PM_REMOVE);
        const LRESULT answer = SendMessageA(bar, WM_SETCURSOR, reinterpret_cast<WPARAM>(bar),
                                            MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return std::make_pair(answer, GetCursor());
    };
    EXPECT_EQ(cursorAt(RectIn(bar, main->m_hWnd).left + 1), std::make_pair(LRESULT(TRUE), resize));
    EXPECT_NE(cursorAt(400).second, resize) << "over the list the cursor is the list's";
}

TEST_F(SplitterTest, TheLayoutStoreGivesBackWhatWasSavedAndDefaultsForWhatIsDamaged) {
    EXPECT_EQ(Values(LoadBrowserLayout()), (std::vector<int>{-1, 200, 75, 125})) << "nothing stored";
    BrowserLayout saved;
    saved.splitterPosition = 420;
    saved.columnWidths[0] = 150;
    saved.columnWidths[1] = 0;
    saved.columnWidths[2] = 4000;
    SaveBrowserLayout(saved);
    EXPECT_EQ(Values(LoadBrowserLayout()), Values(saved)) << "the ends of the range are sane";

    // Each damaged value falls back to its default on its own; the other one is still read.
    struct Damage {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
        std::vector<int> expected;
    };
    const std::vector<int> widthsOnly = {-1, 150, 0, 4000};
    const std::vector<int> positionOnly = {420, 200, 75, 125};
    const Damage cases[] = {
        {"SplitterPosition", REG_DWORD, Bytes({10000}), {10000, 150, 0, 4000}},
        {"SplitterPosition", REG_DWORD, Bytes({10001}), widthsOnly},
        {"SplitterPosition", REG_SZ, {'4', '2', '0', 0}, widthsOnly},
        {"ColumnWidths", REG_BINARY, Bytes({150, 60}), positionOnly},
        {"ColumnWidths", REG_BINARY, Bytes({150, -1, 90}), positionOnly},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", type " + std::to_string(c.type) + ", " +
                     std::to_string(c.bytes.size()) + " bytes");
        SaveBrowserLayout(saved);
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kLayoutKey, c.name, c.type, c.bytes.data(),
                                  static_cast<DWORD>(c.bytes.size())),
                  ERROR_SUCCESS);
        EXPECT_EQ(Values(LoadBrowserLayout()), c.expected);
    }
}

} // namespace
