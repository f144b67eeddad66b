// A bitmap a window paints into before the result goes to the screen in one copy, kept from one paint to
// the next.
#pragma once
#include <windows.h>

class CPaintBuffer {
public:
    CPaintBuffer() = default;
    ~CPaintBuffer() { Release(); }
    CPaintBuffer(const CPaintBuffer&) = delete;
    CPaintBuffer& operator=(const CPaintBuffer&) = delete;

    // A memory DC whose bitmap covers at least the client area `width` by `height`, in the window's own
    // coordinates, clipped to `paint`; null when there is no memory for it (the caller then paints the
    // window itself).
    HDC Begin(const RECT& paint, int width, int height);
    // Frees the bitmap.
    void Release();
    // What the bitmap holds.
    size_t Bytes() const { return m_dc ? static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 4 : 0; }

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_original = nullptr;
    int m_width = 0;
    int m_height = 0;
};
