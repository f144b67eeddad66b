#include "framework/ImageList.h"
#include "framework/Module.h"

CImageList::~CImageList() {
    if (m_list)
        ImageList_Destroy(m_list);
}

bool CImageList::Create(int size, UINT flags) {
    if (m_list)
        ImageList_Destroy(m_list);
    m_icons.clear();
    m_size = size;
    m_list = ImageList_Create(size, size, flags | ILC_MASK, 2, 2);
    return m_list != nullptr;
}

bool CImageList::AddImage(int iconId) {
    HICON icon = static_cast<HICON>(LoadImageA(CModule::Instance(), MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                               m_size, m_size, LR_DEFAULTCOLOR));
    const bool added = icon && ImageList_AddIcon(m_list, icon) >= 0;
    if (icon)
        DestroyIcon(icon);
    return added;
}

int CImageList::Add(int iconId) {
    if (!m_list || !AddImage(iconId))
        return -1;
    m_icons.push_back(iconId);
    return static_cast<int>(m_icons.size()) - 1;
}

void CImageList::Truncate(int count) {
    if (!m_list || count < 0 || count >= static_cast<int>(m_icons.size()))
        return;
    ImageList_SetImageCount(m_list, static_cast<UINT>(count));
    m_icons.resize(static_cast<size_t>(count));
}

void CImageList::Resize(int size) {
    if (!m_list || size == m_size)
        return;
    // A new size empties the list; the same icons go back in the same order, so every index holds.
    ImageList_SetIconSize(m_list, size, size);
    m_size = size;
    std::vector<int> icons;
    icons.swap(m_icons);
    for (int iconId : icons)
        Add(iconId);
}
