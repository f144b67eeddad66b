// Image lists of the module's own icons.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <vector>

// An image list of the module's icons at one size. Each icon is loaded at exactly that size, so the image
// drawn for it in the resource is taken (16, 20, 24 and 32 pixels are there), never another one scaled.
// The list remembers its icons, so it can be made again at another size (the window moved to a screen of
// another DPI) with every image at the index it had.
class CImageList {
public:
    CImageList() = default;
    ~CImageList();
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    // An empty list of `size` by `size` images with a mask; `flags` give its colours.
    bool Create(int size, UINT flags);
    // Adds the module's icon `iconId`; the new image's index, or -1.
    int Add(int iconId);
    // Keeps the first `count` images.
    void Truncate(int count);
    // Every image again, loaded at `size`.
    void Resize(int size);

    HIMAGELIST Handle() const { return m_list; }
    int Size() const { return m_size; }

private:
    bool AddImage(int iconId);

    HIMAGELIST m_list = nullptr;
    int m_size = 0;
    std::vector<int> m_icons; // the icon of each image
};
