// The thin bar between the tree (first pane) and the file list (second pane). The user drags it with the
// left button, a halftone tracker showing where it will land; it places both panes: when they are given
// to it, after a drag and whenever the main window reports a new client size. Where everything goes is
// the geometry's business: the bar keeps its position there and never reads it back from the windows.
#pragma once
#include "browser/SplitterGeometry.h"
#include "framework/Wnd.h"

class CSplitterBar : public CWnd {
public:
    CSplitterBar() = default;
    ~CSplitterBar() override { DestroyWindow(); }

    // A child of the framework's default window class, empty text.
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    using CWnd::Create;
    // Centres the bar on the first pane's far edge and lays out both panes against it.
    void SetPanes(CWnd* first, CWnd* second);
    // The screen's DPI the bar is sized for, given before the panes: its thickness and the panes' overlap
    // are the system's metrics at 96 DPI scaled to it.
    void SetDpi(int dpi) { m_dpi = dpi; }
    // The bar moved to a screen of `dpi`: its place, the place the user chose and its thickness keep their
    // size in 96-DPI units, and the panes follow.
    void ApplyDpi(int dpi);
    // The parent's client area is now cx by cy: panes and bar follow.
    void OnParentSize(int cx, int cy);
    // The place the user left the bar, restored: taken at once when the parent's client area holds the
    // bar there, otherwise as near as it allows and again at each new size until one does (a window still
    // at its creation size, 0 x 0 for a hidden host). A drag replaces it.
    void RestorePosition(int position);
    // Where the user last put the bar (a drag, or a position restored for them); -1 when nobody has.
    // A resize that pulls the bar inside a narrow window does not change it.
    int ChosenPosition() const { return m_chosen; }

    CWnd* FirstPane() const { return m_first; }

protected:
    BEGIN_MSG_MAP(CSplitterBar)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_GETOBJECT, OnGetObject)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
    MESSAGE_HANDLER(WM_CAPTURECHANGED, OnCaptureChanged)
    END_MSG_MAP()

    LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnGetObject(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSetCursor(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnLButtonUp(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnCaptureChanged(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

private:
    bool PanesExist() const;
    void LayoutPanes();
    SplitMetrics Metrics() const;
    void Paint();
    // Draws the tracker where the bar would land for `point` (bar client coordinates), inverting the
    // last one away first when `erase` is set.
    void DrawTracker(POINT point, bool erase);
    // Inverts `r` over the parent with the halftone brush; a second time restores what was there.
    void InvertTracker(const SplitRect& r);
    void EndDrag(POINT point);
    // The bar's window to the geometry's place.
    void MoveBar();
    // The x of `point` (bar client coordinates) in the parent's client area.
    int PositionOf(POINT point) const;

    CSplitterGeometry m_geometry;
    SplitRect m_lastTracker;
    bool m_dragging = false;
    int m_chosen = -1;
    int m_wanted = -1; // a restored position no size has held yet
    int m_dpi = 96;
    CWnd* m_first = nullptr;
    CWnd* m_second = nullptr;
};
