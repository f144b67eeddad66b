// The left pane: the device's drives and directories. This class holds the tree's wiring: the list it
// announces directories to, the session it asks, and the private messages it receives. The browsing of
// the device itself attaches to FillRoots and the path messages.
#pragma once
#include "framework/Wnd.h"
#include "mainwnd/Messages.h"

class CHostedSession;

class CDorvexTreeView : public CWnd {
public:
    CDorvexTreeView() = default;

    // Always a tree control with buttons, lines, lines at the root and the selection always shown.
    bool Create(const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                UINT id, DWORD exStyle = 0) override;

    void SetListWindow(HWND list) { m_listWindow = list; }
    void SetSession(CHostedSession* session) { m_session = session; }
    HWND ListWindow() const { return m_listWindow; }
    CHostedSession* SessionHolder() const { return m_session; }

    // Removes every item.
    virtual void ClearTree();
    // Probes the device and inserts its drives.
    virtual void FillRoots();

protected:
    BEGIN_MSG_MAP(CDorvexTreeView)
    MESSAGE_HANDLER(UWM_VIEW_CLEAR, OnViewClear)
    MESSAGE_HANDLER(UWM_TREE_FILL_ROOTS, OnFillRoots)
    MESSAGE_HANDLER(UWM_TREE_SELECT_PATH, OnPathMessage)
    MESSAGE_HANDLER(UWM_TREE_REFRESH_PATH, OnPathMessage)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    END_MSG_MAP()

    LRESULT OnViewClear(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnFillRoots(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPathMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    // The view goes with its window, as the main window only destroys the window.
    void OnFinalMessage(HWND) override { delete this; }

private:
    HWND m_listWindow = nullptr;
    CHostedSession* m_session = nullptr;
};
