#include "browser/SplitterBar.h"
#include "browser/DpiScale.h"
#include "framework/Dpi.h"
#include "framework/Accessible.h"
#include <oleacc.h>
#include "framework/Handles.h"
#include "browser/Messages.h"
#include <windowsx.h>

namespace {

SplitRect ToSplit(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// `window`'s rectangle in `parent`'s client coordinates.
RECT RectIn(HWND window, HWND parent) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void MoveTo(HWND window, const SplitRect& r) {
    MoveWindow(window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void Invert(HDC dc, const SplitRect& r) {
    PatBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, PATINVERT);
}

POINT PointOf(LPARAM lParam) {
    return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

} // namespace

bool CSplitterBar::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
    // Named for screen readers, which read it as a separator.
    return CWnd::Create(nullptr, "Divider between folders and files", style, rect, parent, id);
}

LRESULT CSplitterBar::OnGetObject(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    return AnswerAccessibleObject(m_hWnd, wParam, lParam, ROLE_SYSTEM_SEPARATOR, handled);
}

LRESULT CSplitterBar::OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (DefWindowProc(msg, wParam, lParam) == -1)
        return -1;
    // Above the panes, which reach under it.
    SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RECT client = {};
    GetClientRect(GetParent(m_hWnd), &client);
    m_geometry.SetLimits(client.left, client.right);
    return 0;
}

bool CSplitterBar::PanesExist() const {
    return IsWindow() && m_first && m_second && m_first->IsWindow() && m_second->IsWindow();
}

SplitMetrics CSplitterBar::Metrics() const {
    // Scaled from 96 DPI rather than taken at this one: the system's frame grows more slowly than the
    // screen's density, and the bar would grow thinner to the eye on a denser screen.
    const SplitMetrics at96 = {SystemMetricForDpi(SM_CYFRAME, kDefaultDpi),
                               SystemMetricForDpi(SM_CYBORDER, kDefaultDpi)};
    return at96.ScaledTo(m_dpi);
}

void CSplitterBar::MoveBar() {
    MoveTo(m_hWnd, m_geometry.Bar(Metrics()));
}

void CSplitterBar::SetPanes(CWnd* first, CWnd* second) {
    m_first = first;
    m_second = second;
    if (!PanesExist())
        return;
    const HWND parent = GetParent(m_hWnd);
    m_geometry.Attach(ToSplit(RectIn(first->m_hWnd, parent)), ToSplit(RectIn(second->m_hWnd, parent)),
                      Metrics());
    MoveBar();
    LayoutPanes();
}

void CSplitterBar::LayoutPanes() {
    if (!PanesExist())
        return;
    const SplitMetrics metrics = Metrics();
    MoveTo(m_first->m_hWnd, m_geometry.FirstPane(metrics));
    MoveTo(m_second->m_hWnd, m_geometry.SecondPane(metrics));
    InvalidateRect(GetParent(m_hWnd), nullptr, TRUE);
}

void CSplitterBar::OnParentSize(int cx, int cy) {
    if (!PanesExist())
        return;
    RECT client = {};
    GetClientRect(GetParent(m_hWnd), &client);
    // A restored place no size has held yet comes as near as this one allows.
    if (m_wanted >= 0) {
        m_geometry.SetLimits(0, cx);
        m_geometry.MoveTo(m_wanted);
    }
    m_geometry.FitClient(ToSplit(client), cx, cy, Metrics());
    if (m_geometry.Position() == m_wanted)
        m_wanted = -1;
    MoveBar();
    LayoutPanes();
}

void CSplitterBar::RestorePosition(int position) {
    m_chosen = position;
    m_wanted = position;
    RECT client = {};
    GetClientRect(GetParent(m_hWnd), &client);
    OnParentSize(client.right, client.bottom);
}

void CSplitterBar::ApplyDpi(int dpi) {
    if (dpi == m_dpi)
        return;
    const int from = m_dpi;
    m_dpi = dpi;
    const auto rescale = [&](int position) { return position < 0 ? position : Rescale(position, from, dpi); };
    m_chosen = rescale(m_chosen);
    m_wanted = rescale(m_wanted);
    m_geometry.MoveTo(Rescale(m_geometry.Position(), from, dpi));
    RECT client = {};
    GetClientRect(GetParent(m_hWnd), &client);
    OnParentSize(client.right, client.bottom);
}

LRESULT CSplitterBar::OnNcHitTest(UINT, WPARAM, LPARAM, BOOL&) {
    // The frame grabs the bar as well as the rest of it.
    return HTCLIENT;
}

LRESULT CSplitterBar::OnPaint(UINT, WPARAM, LPARAM, BOOL&) {
    Paint();
    return 0;
}

void CSplitterBar::Paint() {
    if (!GetUpdateRect(m_hWnd, nullptr, FALSE))
        return;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT rect = {};
    GetWindowRect(m_hWnd, &rect);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    DrawFrameControl(dc, &rect, DFC_BUTTON, DFCS_BUTTONCHECK);
    EndPaint(m_hWnd, &paint);
}

LRESULT CSplitterBar::OnSetCursor(UINT, WPARAM, LPARAM, BOOL& handled) {
    const DWORD position = GetMessagePos();
    const POINT point = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    RECT rect = {};
    GetWindowRect(m_hWnd, &rect);
    if (!PtInRect(&rect, point)) {
        handled = FALSE;
        return 0;
    }
    // The framework's own split cursors live in its resources, which this module does not carry; the
    // system's resize cursors are the same arrows.
    SetCursor(LoadCursor(nullptr, IDC_SIZEWE));
    return TRUE;
}

LRESULT CSplitterBar::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    POINT screen = PointOf(lParam);
    ClientToScreen(m_hWnd, &screen);
    RECT rect = {};
    GetWindowRect(m_hWnd, &rect);
    if (!PtInRect(&rect, screen)) {
        handled = FALSE;
        return 0;
    }
    SetCapture(m_hWnd);
    m_dragging = true;
    DrawTracker(PointOf(lParam), false);
    return 0;
}

LRESULT CSplitterBar::OnMouseMove(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (!(wParam & MK_LBUTTON) || !m_dragging) {
        handled = FALSE;
        return 0;
    }
    DrawTracker(PointOf(lParam), true);
    return 0;
}

LRESULT CSplitterBar::OnLButtonUp(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    if (m_dragging)
        EndDrag(PointOf(lParam));
    handled = FALSE;
    return 0;
}

LRESULT CSplitterBar::OnCaptureChanged(UINT, WPARAM, LPARAM, BOOL& handled) {
    // Another window took the mouse (a box came up, the user switched away): the drag ends with the bar
    // where it was, as Escape would end it, and nobody is told of a move.
    if (m_dragging) {
        m_dragging = false;
        InvertTracker(m_lastTracker);
    }
    handled = FALSE;
    return 0;
}

int CSplitterBar::PositionOf(POINT point) const {
    MapWindowPoints(m_hWnd, GetParent(m_hWnd), &point, 1);
    return point.x;
}

void CSplitterBar::DrawTracker(POINT point, bool erase) {
    // The tracker's edge is the mouse itself, not the point where the bar was grabbed.
    const SplitRect work = m_geometry.BarAt(PositionOf(point), Metrics());
    // Inverting twice restores, so the last tracker goes and the new one comes in the same way.
    if (erase)
        InvertTracker(m_lastTracker);
    InvertTracker(work);
    m_lastTracker = work;
}

void CSplitterBar::InvertTracker(const SplitRect& r) {
    // Inverted, not painted in a colour: half its pixels take the opposite of what lies under them, so
    // the tracker shows on any colour scheme, a high-contrast one included.
    const HWND parent = GetParent(m_hWnd);
    // Not clipped by the panes: the tracker is drawn over them.
    HDC dc = GetDCEx(parent, nullptr, DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    if (!dc)
        return;
    static const WORD kHalftone[8] = {0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA};
    CGdiObject pattern(CreateBitmap(8, 8, 1, 1, kHalftone));
    CGdiObject brush(CreatePatternBrush(static_cast<HBITMAP>(pattern.Get())));
    const HGDIOBJ previous = SelectObject(dc, brush.Get());
    Invert(dc, r);
    SelectObject(dc, previous);
    ReleaseDC(parent, dc);
}

void CSplitterBar::EndDrag(POINT point) {
    // This tracker is left for the parent's repaint below to cover.
    DrawTracker(point, true);
    m_geometry.MoveTo(PositionOf(point));
    m_chosen = m_geometry.Position();
    m_wanted = -1;
    MoveBar();
    Paint();
    m_dragging = false;
    ReleaseCapture();
    LayoutPanes();
    SendMessageA(GetParent(m_hWnd), UWM_SPLITTER_MOVED, 0, 0);
}
