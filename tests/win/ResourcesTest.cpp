// The module's resources that no other test opens: the icons the views load, the toolbox bitmap, the
// property page and the version block. Texts are the resource file's own; the container and browser tests
// read the about box and the confirm dialog through the control itself.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "DeviceSessionDouble.h"

namespace {

INT_PTR CALLBACK Quiet(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

TEST(ResourcesTest, IconsBitmapPropertyPageAndVersionAreInTheModule) {
    const std::string path = ProgramDirectory() + "DORVEX.OCX";
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (int id : {1, 204, 205, 206, 207}) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        EXPECT_NE(icon, nullptr) << "icon " << id;
        if (icon)
            DestroyIcon(icon);
    }
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(32000), MAKEINTRESOURCEA(2) /* RT_BITMAP */), nullptr);
    HWND page = CreateDialogParamA(module, MAKEINTRESOURCEA(200), GetDesktopWindow(), Quiet, 0);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(GetWindowLongA(page, GWL_STYLE) & WS_CHILD) << "a property page is a child";
    DestroyWindow(page);
    FreeLibrary(module);
    DWORD handle = 0;
    EXPECT_GT(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u) << "no version block";
}

} // namespace
