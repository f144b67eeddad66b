#include "browser/DorvexListView.h"
#include <commctrl.h>

bool CDorvexListView::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    return CWnd::Create(WC_LISTVIEWA, "", (style | LVS_REPORT | LVS_SHOWSELALWAYS) & ~LVS_SMALLICON, rect,
                        parent, id);
}

void CDorvexListView::Clear() {
    m_currentPath.clear();
    if (IsWindow())
        ListView_DeleteAllItems(m_hWnd);
}

LRESULT CDorvexListView::OnShowDirectory(UINT, WPARAM, LPARAM lParam, BOOL&) {
    // Ours now: freed on return until the list reads directories.
    std::unique_ptr<std::string> path = TakePath(lParam);
    return 0;
}

LRESULT CDorvexListView::OnViewClear(UINT, WPARAM, LPARAM, BOOL&) {
    Clear();
    return 0;
}

LRESULT CDorvexListView::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DrainPrivateMessages(m_hWnd);
    handled = FALSE;
    return 0;
}
