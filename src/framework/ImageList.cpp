#include "framework/ImageList.h"
#include "framework/Module.h"

int AddModuleIcon(HIMAGELIST list, int iconId) {
    HICON icon = static_cast<HICON>(
        LoadImageA(CModule::Instance(), MAKEINTRESOURCEA(iconId), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    const int index = list && icon ? ImageList_AddIcon(list, icon) : -1;
    if (icon)
        DestroyIcon(icon);
    return index;
}
