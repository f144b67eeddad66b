// The module's resources that no other test opens: the about box's and the list's icons, the toolbox
// bitmap and the version block. The tree's icons are counted in the browser test, the property page is
// shown in the control object test, and the texts are read through the control itself.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "DeviceSessionDouble.h"

namespace {

TEST(ResourcesTest, IconsBitmapAndVersionAreInTheModule) {
    const std::string path = ProgramDirectory() + "DORVEX.OCX";
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (int id : {1, 205}) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        EXPECT_NE(icon, nullptr) << "icon " << id;
        if (icon)
            DestroyIcon(icon);
    }
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(32000), MAKEINTRESOURCEA(2) /* RT_BITMAP */), nullptr);
    FreeLibrary(module);
    DWORD handle = 0;
    EXPECT_GT(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u) << "no version block";
}

} // namespace
