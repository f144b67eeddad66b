#include "framework/SelectionColours.h"

LRESULT KeepSelectionVisible(NMCUSTOMDRAW& draw, COLORREF& text, COLORREF& background) {
    switch (draw.dwDrawStage) {
    case CDDS_PREPAINT:
        // Only where the scheme needs it: elsewhere the views draw as they always do.
        return GetSysColor(COLOR_BTNFACE) == GetSysColor(COLOR_WINDOW) ? CDRF_NOTIFYITEMDRAW : CDRF_DODEFAULT;
    case CDDS_ITEMPREPAINT:
        if ((draw.uItemState & CDIS_SELECTED) && GetFocus() != draw.hdr.hwndFrom) {
            // The list view picks its selection colours after asking: it must not see the item selected.
            draw.uItemState &= ~CDIS_SELECTED;
            text = GetSysColor(COLOR_HIGHLIGHTTEXT);
            background = GetSysColor(COLOR_HIGHLIGHT);
        }
        return CDRF_DODEFAULT;
    default:
        return CDRF_DODEFAULT;
    }
}
