// The module's resources as the host and the views read them: strings, dialogs, icons, version.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "DeviceSessionDouble.h"

namespace {

std::string OcxPath() {
    return ProgramDirectory() + "DORVEX.OCX";
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(OcxPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }
    std::string String(UINT id) {
        char buffer[512] = "";
        LoadStringA(module_, id, buffer, sizeof buffer);
        return buffer;
    }
    HMODULE module_ = nullptr;
};

TEST_F(ResourcesTest, StringTable) {
    EXPECT_EQ(String(1), "Dorvex");
    EXPECT_EQ(String(2), "Dorvex Property Page");
    EXPECT_EQ(String(200), "General");
    EXPECT_EQ(String(201), "Delete file");
    EXPECT_EQ(String(202), "Send these files to a local directory.");
    EXPECT_EQ(String(203), "Create a new directory");
    EXPECT_EQ(String(32000), "Dorvex");
    EXPECT_EQ(String(32001),
              "Displays the file system. Allows you to manage control system files and directories.");
}

TEST_F(ResourcesTest, IconsHoldASixteenColourSmallImageAndTheBitmapExists) {
    for (int id : {1, 204, 205, 206, 207}) {
        HICON icon = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        ASSERT_NE(icon, nullptr) << "icon " << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm = {};
        GetObjectA(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, 16) << "icon " << id;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_NE(FindResourceA(module_, MAKEINTRESOURCEA(32000), MAKEINTRESOURCEA(2) /* RT_BITMAP */), nullptr);
    EXPECT_NE(FindResourceA(module_, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
}

INT_PTR CALLBACK Quiet(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

TEST_F(ResourcesTest, ConfirmDialogHasItsButtonsAndNoSystemMenu) {
    HWND dialog = CreateDialogParamA(module_, MAKEINTRESOURCEA(202), nullptr, Quiet, 0);
    ASSERT_NE(dialog, nullptr);
    char title[64] = "";
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Confirm");
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU) << "the caption has no system menu";
    // The buttons by the ids the dialog's code answers with.
    const struct {
        int id;
        const char* text;
    } items[] = {{204, "?"}, {205, "Yes"}, {206, "Yes to ALL"}, {207, "No"}, {208, "No to ALL"}};
    for (const auto& item : items) {
        char text[64] = "";
        GetDlgItemTextA(dialog, item.id, text, sizeof text);
        EXPECT_STREQ(text, item.text) << item.id;
    }
    DestroyWindow(dialog);
}

TEST_F(ResourcesTest, AboutBoxAndPropertyPage) {
    HWND about = CreateDialogParamA(module_, MAKEINTRESOURCEA(1), nullptr, Quiet, 0);
    ASSERT_NE(about, nullptr);
    char text[128] = "";
    GetWindowTextA(about, text, sizeof text);
    EXPECT_STREQ(text, "About Dorvex Control");
    ASSERT_NE(GetDlgItem(about, IDOK), nullptr);
    GetWindowTextA(GetDlgItem(about, IDOK), text, sizeof text);
    EXPECT_STREQ(text, "OK");
    bool versionLine = false;
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        GetWindowTextA(c, text, sizeof text);
        versionLine |= std::string(text) == "Dorvex Control, Version 1.0";
    }
    EXPECT_TRUE(versionLine);
    DestroyWindow(about);

    HWND page = CreateDialogParamA(module_, MAKEINTRESOURCEA(200), GetDesktopWindow(), Quiet, 0);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(GetWindowLongA(page, GWL_STYLE) & WS_CHILD);
    DestroyWindow(page);
}

TEST_F(ResourcesTest, VersionResource) {
    std::string path = OcxPath();
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000006u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    auto value = [&](const char* name) {
        char* text = nullptr;
        UINT n = 0;
        std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
        return VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&text), &n)
                   ? std::string(text)
                   : "<missing>";
    };
    EXPECT_EQ(value("FileDescription"), "Dorvex ActiveX Control Module");
    EXPECT_EQ(value("ProductName"), "Dorvex ActiveX Control Module");
    EXPECT_EQ(value("InternalName"), "Dorvex");
    EXPECT_EQ(value("OriginalFilename"), "Dorvex.OCX");
}

} // namespace
