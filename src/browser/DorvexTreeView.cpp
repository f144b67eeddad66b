#include "browser/DorvexTreeView.h"
#include <commctrl.h>

bool CDorvexTreeView::Create(const char*, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                             UINT id, DWORD exStyle) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&init);
    return CWnd::Create(WC_TREEVIEWA, windowName,
                        style | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS, rect,
                        parent, id, exStyle);
}

void CDorvexTreeView::ClearTree() {
    if (IsWindow())
        TreeView_DeleteAllItems(m_hWnd);
}

void CDorvexTreeView::FillRoots() {}

LRESULT CDorvexTreeView::OnViewClear(UINT, WPARAM, LPARAM, BOOL&) {
    ClearTree();
    return 0;
}

LRESULT CDorvexTreeView::OnFillRoots(UINT, WPARAM, LPARAM, BOOL&) {
    FillRoots();
    return 0;
}

LRESULT CDorvexTreeView::OnPathMessage(UINT, WPARAM, LPARAM lParam, BOOL&) {
    // Ours now: freed on return until the tree looks paths up.
    std::unique_ptr<std::string> path = TakePath(lParam);
    return 0;
}

LRESULT CDorvexTreeView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    ClearTree();
    handled = FALSE;
    return 0;
}

LRESULT CDorvexTreeView::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DrainPrivateMessages(m_hWnd);
    handled = FALSE;
    return 0;
}
