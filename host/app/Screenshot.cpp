#include "Screenshot.h"

#include <cstdio>
#include <vector>

namespace {

BOOL CALLBACK AddVisible(HWND hwnd, LPARAM param) {
    RECT rect;
    if (IsWindowVisible(hwnd) && GetWindowRect(hwnd, &rect)) {
        auto* area = reinterpret_cast<RECT*>(param);
        UnionRect(area, area, &rect);
    }
    return TRUE;
}

// Rows bottom-up, each padded to four bytes, as BMP files hold them.
bool WriteBmp(const std::wstring& path, int width, int height, const std::vector<BYTE>& pixels) {
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(pixels.size());
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;

    HANDLE out =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && written == sizeof file;
    ok = ok && WriteFile(out, &info, sizeof info, &written, nullptr) && written == sizeof info;
    ok = ok && WriteFile(out, pixels.data(), info.biSizeImage, &written, nullptr) &&
         written == info.biSizeImage;
    CloseHandle(out);
    if (!ok)
        DeleteFileW(path.c_str());
    return ok;
}

bool ReadPixels(HDC dc, HBITMAP bitmap, int width, int height, std::vector<BYTE>& pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    pixels.assign(stride * height, 0);
    return GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height;
}

bool OneColour(const std::vector<BYTE>& pixels, int width, int height) {
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            if (pixels[y * stride + x] != pixels[x % 3])
                return false;
    return true;
}

} // namespace

RECT AreaWithThreadWindows(HWND window) {
    RECT area = {};
    GetWindowRect(window, &area);
    EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), AddVisible, reinterpret_cast<LPARAM>(&area));
    // Only what is on the screen can be copied from it.
    RECT screen = {0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    OffsetRect(&screen, GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN));
    IntersectRect(&area, &area, &screen);
    return area;
}

bool SaveScreenshot(HWND window, const RECT& area, const std::wstring& path) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);

    // GetDIBits wants the bitmap out of any device context.
    std::vector<BYTE> pixels;
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);
    ok = ok && ReadPixels(screen, bitmap, width, height, pixels);
    if (!ok || OneColour(pixels, width, height)) {
        RECT own;
        GetWindowRect(window, &own);
        old = SelectObject(memory, bitmap);
        RECT fill = {0, 0, width, height};
        FillRect(memory, &fill, GetSysColorBrush(COLOR_DESKTOP));
        SetViewportOrgEx(memory, own.left - area.left, own.top - area.top, nullptr);
        PrintWindow(window, memory, 0);
        SetViewportOrgEx(memory, 0, 0, nullptr);
        SelectObject(memory, old);
        ok = ReadPixels(screen, bitmap, width, height, pixels);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok && WriteBmp(path, width, height, pixels);
}
