// The module's resources that no other test opens: the about box's icon and the toolbox bitmap. The list's
// and the tree's icons are counted in the browser test, the version block is read by the packaging (the
// install tests), the property page is shown in the control object test, the texts through the control.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "DeviceSessionDouble.h"

namespace {

TEST(ResourcesTest, TheAboutIconAndTheToolboxBitmapAreInTheModule) {
    const std::string path = ProgramDirectory() + "DORVEX.OCX";
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(icon, nullptr);
    if (icon)
        DestroyIcon(icon);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(32000), MAKEINTRESOURCEA(2) /* RT_BITMAP */), nullptr);
    FreeLibrary(module);
}

} // namespace
