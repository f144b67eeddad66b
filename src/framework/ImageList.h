// Image lists of the module's own icons.
#pragma once
#include <windows.h>
#include <commctrl.h>

// Adds the module's icon `iconId` to `list` in its 16 by 16 image (the resources' large images are not
// scaled down); the new image's index, or -1.
int AddModuleIcon(HIMAGELIST list, int iconId);
