// The right pane: the entries of one remote directory. This class holds the list's wiring: the tree it
// asks to follow, the session it asks, and the private messages it receives. Listing the device's
// directories attaches to the show-directory message.
#pragma once
#include "framework/Wnd.h"
#include "mainwnd/Messages.h"
#include <string>

class CDeviceSession;

class CDorvexListView : public CWnd {
public:
    CDorvexListView() = default;

    // A list control in report mode that shows its selection without focus.
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    using CWnd::Create;

    void SetTreeWindow(HWND tree) { m_treeWindow = tree; }
    void SetSession(CDeviceSession* session) { m_session = session; }
    HWND TreeWindow() const { return m_treeWindow; }
    CDeviceSession* SessionHolder() const { return m_session; }
    const std::string& CurrentPath() const { return m_currentPath; }

    // Forgets the directory and removes every row.
    virtual void Clear();

protected:
    BEGIN_MSG_MAP(CDorvexListView)
    MESSAGE_HANDLER(UWM_LIST_SHOW_DIR, OnShowDirectory)
    MESSAGE_HANDLER(UWM_VIEW_CLEAR, OnViewClear)
    MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    END_MSG_MAP()

    LRESULT OnShowDirectory(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnViewClear(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    void OnFinalMessage(HWND) override { delete this; }

private:
    HWND m_treeWindow = nullptr;
    CDeviceSession* m_session = nullptr;
    std::string m_currentPath;
};
