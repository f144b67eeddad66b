// The framework window's lifetime: the final message waits for the outermost handler of its window.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/Wnd.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_events;

// Deletes itself with its final message, as the views do; destroys itself from inside a nested send.
class CSelfDeleting : public CWnd {
public:
    ~CSelfDeleting() override { g_events.push_back("deleted"); }

protected:
    BEGIN_MSG_MAP(CSelfDeleting)
    MESSAGE_HANDLER(WM_USER, OnOuter)
    MESSAGE_HANDLER(WM_USER + 1, OnInner)
    END_MSG_MAP()

    LRESULT OnOuter(UINT, WPARAM, LPARAM, BOOL&) {
        SendMessageA(m_hWnd, WM_USER + 1, 0, 0);
        // Still this object's memory: the final message has not run yet.
        g_events.push_back("outer returns with " + m_name);
        return 7;
    }
    LRESULT OnInner(UINT, WPARAM, LPARAM, BOOL&) {
        DestroyWindow();
        g_events.push_back("destroyed");
        return 0;
    }
    void OnFinalMessage(HWND) override {
        g_events.push_back("final");
        delete this;
    }

private:
    std::string m_name = "its name";
};

TEST(WndLifetime, TheFinalMessageWaitsForTheOutermostHandler) {
    g_events.clear();
    auto* window = new CSelfDeleting();
    ASSERT_TRUE(window->Create(nullptr, "", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
    HWND hwnd = window->m_hWnd;
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 7);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(g_events,
              (std::vector<std::string>{"destroyed", "outer returns with its name", "final", "deleted"}));
}

} // namespace
