#include "browser/SplitterBar.h"

namespace {
constexpr int kEdgeMargin = 10; // a bar pushed outside the parent comes back this far inside
}

bool CSplitterBar::Create(DWORD style, const RECT& rect, HWND parent, UINT id, bool horizontal) {
    m_horizontal = horizontal;
    if (!CWnd::Create(nullptr, "", style, rect, parent, id))
        return false;
    RECT client;
    GetClientRect(parent, &client);
    m_lowerLimit = horizontal ? client.top : client.left;
    m_upperLimit = horizontal ? client.bottom : client.right;
    return true;
}

RECT CSplitterBar::RectInParent(HWND window) const {
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(m_hWnd), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void CSplitterBar::MoveTo(HWND window, const RECT& rect) const {
    MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void CSplitterBar::SetPanes(CWnd* first, CWnd* second) {
    m_first = first;
    m_second = second;
    if (!IsWindow() || !first || !second || !first->IsWindow() || !second->IsWindow())
        return;
    const RECT a = RectInParent(first->m_hWnd);
    if (m_horizontal) {
        const int h = GetSystemMetrics(SM_CXFRAME) / 2;
        MoveTo(m_hWnd, {a.left, a.bottom - h, a.right, a.bottom + h});
    } else {
        const int h = GetSystemMetrics(SM_CYFRAME) / 2;
        MoveTo(m_hWnd, {a.right - h, a.top, a.right + h, a.bottom});
    }
    LayoutPanes();
    const RECT laidA = RectInParent(first->m_hWnd);
    const RECT laidB = RectInParent(second->m_hWnd);
    m_lowerLimit = m_horizontal ? laidA.top : laidA.left;
    m_upperLimit = m_horizontal ? laidB.bottom : laidB.right;
}

void CSplitterBar::LayoutPanes() {
    if (!IsWindow() || !m_first || !m_second || !m_first->IsWindow() || !m_second->IsWindow())
        return;
    const RECT bar = RectInParent(m_hWnd);
    RECT a = RectInParent(m_first->m_hWnd);
    RECT b = RectInParent(m_second->m_hWnd);
    // Each pane reaches a border's width under the bar.
    if (m_horizontal) {
        a.bottom = bar.top + GetSystemMetrics(SM_CXBORDER);
        b.top = bar.bottom - GetSystemMetrics(SM_CXBORDER);
    } else {
        a.right = bar.left + GetSystemMetrics(SM_CYBORDER);
        b.left = bar.right - GetSystemMetrics(SM_CYBORDER);
    }
    MoveTo(m_first->m_hWnd, a);
    MoveTo(m_second->m_hWnd, b);
    InvalidateRect(GetParent(m_hWnd), nullptr, TRUE);
}

void CSplitterBar::OnParentSize(int cx, int cy) {
    HWND parent = IsWindow() ? GetParent(m_hWnd) : nullptr;
    if (!parent || m_horizontal || !m_first || !m_second || !m_first->IsWindow() || !m_second->IsWindow())
        return;
    RECT client;
    GetClientRect(parent, &client);
    RECT bar = RectInParent(m_hWnd);
    RECT a = RectInParent(m_first->m_hWnd);
    RECT b = RectInParent(m_second->m_hWnd);
    bar.bottom = bar.top + cy;
    a.bottom = a.top + cy;
    b.bottom = b.top + cy;
    const int h = GetSystemMetrics(SM_CYFRAME) / 2;
    // A bar inside the client area keeps its place; one outside comes back just inside the edge.
    if (bar.left < client.left || bar.right > client.right) {
        const int centre = bar.left < client.left ? client.left + kEdgeMargin : client.right - kEdgeMargin;
        bar.left = centre - h;
        bar.right = centre + h;
    }
    MoveTo(m_hWnd, bar);
    const int border = GetSystemMetrics(SM_CYBORDER);
    MoveTo(m_first->m_hWnd, {0, a.top, bar.left + border, a.bottom});
    MoveTo(m_second->m_hWnd, {bar.right - border, b.top, cx, b.bottom});
    m_lowerLimit = 0;
    m_upperLimit = cx;
    InvalidateRect(parent, nullptr, TRUE);
}
