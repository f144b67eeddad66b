#include "framework/PaintBuffer.h"
#include <algorithm>

HDC CPaintBuffer::Begin(const RECT& paint, int width, int height) {
    if (width <= 0 || height <= 0)
        return nullptr;
    // Made again only when the client area outgrows it: a list's area changes by a scroll bar's width as
    // often as directories with and without one are shown, and a new bitmap costs a page fault every 4 KB.
    if (!m_dc || width > m_width || height > m_height) {
        width = std::max(width, m_width);
        height = std::max(height, m_height);
        Release();
        // A section of the memory's own format, not one compatible with the screen: drawing into it never
        // asks the display driver anything.
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_dc = m_bitmap ? CreateCompatibleDC(nullptr) : nullptr;
        if (!m_dc) {
            Release();
            return nullptr;
        }
        m_original = SelectObject(m_dc, m_bitmap);
        m_width = width;
        m_height = height;
    }
    SelectClipRgn(m_dc, nullptr);
    IntersectClipRect(m_dc, paint.left, paint.top, paint.right, paint.bottom);
    return m_dc;
}

void CPaintBuffer::Release() {
    if (m_dc) {
        SelectObject(m_dc, m_original);
        DeleteDC(m_dc);
    }
    if (m_bitmap)
        DeleteObject(m_bitmap);
    m_dc = nullptr;
    m_bitmap = nullptr;
    m_original = nullptr;
    m_width = m_height = 0;
}
