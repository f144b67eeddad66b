#include "browser/Navigation.h"

void CNavigation::Show(const std::string& path) {
    if (path.empty() || path == m_current)
        return;
    m_current = path;
    if (m_list)
        m_list->ListDirectory(m_current);
}

void CNavigation::Reload() {
    if (!m_current.empty() && m_list)
        m_list->ListDirectory(m_current);
}

void CNavigation::Open(std::string_view name) {
    if (!m_current.empty() && !name.empty() && m_tree)
        m_tree->SelectDirectory(JoinPath(m_current, name));
}

bool CNavigation::Up(const std::vector<DriveRow>& drives) {
    if (m_current.empty() || IsDriveRoot(drives, m_current))
        return false;
    const std::string parent = ParentPath(m_current);
    if (parent.empty() || !m_tree)
        return false;
    m_tree->SelectDirectory(parent);
    return true;
}

void CNavigation::Changed(const std::string& path) {
    if (!path.empty() && m_tree)
        m_tree->RefreshDirectory(path);
}
