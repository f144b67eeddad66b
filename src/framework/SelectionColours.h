// A selection that keeps showing when its view loses the focus. The common controls draw an unfocused
// selection in the button face colour, which some schemes (high contrast black or white) make the
// window's own background: the selected folder or rows would vanish. There it is drawn in the focused
// selection's colours instead.
#pragma once
#include <windows.h>
#include <commctrl.h>

// Answers a list or tree view's NM_CUSTOMDRAW; `text` and `background` are the item's colours in the
// view's own custom-draw structure.
LRESULT KeepSelectionVisible(NMCUSTOMDRAW& draw, COLORREF& text, COLORREF& background);
