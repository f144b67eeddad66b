// The splitter bar inside the main window, driven by the mouse messages a user's drag produces: where bar
// and panes land, the parent's notification, the mouse capture, the cursor over the bar.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "mainwnd/DorvexWnd.h"
#include "mainwnd/Messages.h"

#include <memory>

namespace {

// Counts the notifications the main window gets, then lets it handle them as usual.
int g_moved = 0;
WNDPROC g_mainProc = nullptr;
LRESULT CALLBACK CountMoves(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UWM_SPLITTER_MOVED)
        ++g_moved;
    return CallWindowProcA(g_mainProc, window, msg, wParam, lParam);
}

RECT RectIn(HWND window, HWND parent) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class SplitterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        ASSERT_TRUE(EnsureSessionTypeLibrary());
        ASSERT_EQ(factory.Register(), S_OK);
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700, 400,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
        CreateMain();
    }
    void TearDown() override {
        if (main) {
            session.ExpectDestruction();
            main.reset();
        }
        session.VerifyDone();
        DestroyWindow(frame);
        factory.Revoke();
        OleUninitialize();
    }

    // The main window as the control makes it, sized to 640 x 330, its notifications counted.
    void CreateMain() {
        session.ExpectCreation();
        main = std::make_unique<CDorvexWnd>();
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", WS_CHILD, RECT{0, 0, 300, 200}, frame, 1700));
        session.VerifyDone();
        SetWindowPos(main->m_hWnd, nullptr, 0, 0, 640, 330, SWP_NOMOVE | SWP_NOZORDER);
        bar = GetDlgItem(main->m_hWnd, 1701);
        tree = GetDlgItem(main->m_hWnd, 1703);
        list = GetDlgItem(main->m_hWnd, 1702);
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

    CSessionDouble session;
    CSessionFactory factory{session};
    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
    HWND bar = nullptr;
    HWND tree = nullptr;
    HWND list = nullptr;
    const int half = GetSystemMetrics(SM_CYFRAME) / 2;
    const int border = GetSystemMetrics(SM_CYBORDER);
};

TEST_F(SplitterTest, ADragMovesBarAndPanesAndTellsTheParentOnce) {
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

TEST_F(SplitterTest, AReleaseOutsideTheClientAreaStopsAtItsEdgeUntilTheNextResize) {
    Drag(-80);
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 0);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).right, border);
    Drag(900);
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 640);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).right, 640 + border) << "the tree covers the client area";
    const RECT squeezed = RectIn(list, main->m_hWnd);
    EXPECT_EQ(squeezed.right - squeezed.left, 0);
    EXPECT_EQ(g_moved, 2);
    // The next size pulls the bar back 10 pixels inside the edge.
    SetWindowPos(main->m_hWnd, nullptr, 0, 0, 600, 330, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 590 - half);
    EXPECT_EQ(RectIn(list, main->m_hWnd).right, 600);
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

} // namespace
