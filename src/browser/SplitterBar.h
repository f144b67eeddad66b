// The thin bar between the tree (first pane) and the file list (second pane). It places both panes:
// when they are given to it and whenever the main window reports a new client size. Dragging the bar
// comes with the bar's own mouse handling.
#pragma once
#include "framework/Wnd.h"

class CSplitterBar : public CWnd {
public:
    CSplitterBar() = default;

    // A child of the framework's default window class, empty text; `horizontal` splits top and bottom.
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id, bool horizontal);
    using CWnd::Create;
    // Centres the bar on the first pane's far edge and lays out both panes against it.
    void SetPanes(CWnd* first, CWnd* second);
    // The parent's client area is now cx by cy: panes and bar follow (vertical bar only).
    void OnParentSize(int cx, int cy);
    void LayoutPanes();

    CWnd* FirstPane() const { return m_first; }
    CWnd* SecondPane() const { return m_second; }

private:
    // `window`'s rectangle in the parent's client coordinates.
    RECT RectInParent(HWND window) const;
    void MoveTo(HWND window, const RECT& rect) const;

    CWnd* m_first = nullptr;
    CWnd* m_second = nullptr;
    int m_lowerLimit = 0;
    int m_upperLimit = 0;
    bool m_horizontal = false;
};
