// Where the browser is: the directory the file list shows, held once, and the moves between
// directories (open a row, go up, show what the tree selected, read again, a directory that changed on
// the device). The panes do the showing; neither knows the other. Portable.
#pragma once
#include "browser/RemotePath.h"
#include <string>
#include <string_view>
#include <vector>

// What the navigation asks of the file list.
class IListPane {
public:
    virtual ~IListPane() = default;
    // Replaces the rows with a fresh listing of `path`.
    virtual void ListDirectory(const std::string& path) = 0;
};

// What the navigation asks of the tree.
class ITreePane {
public:
    virtual ~ITreePane() = default;
    // Selects the directory `path`, listing what lies on the way; the selection comes back through
    // CNavigation::Show.
    virtual void SelectDirectory(const std::string& path) = 0;
    // Reads the directory `path` again.
    virtual void RefreshDirectory(const std::string& path) = 0;
};

class CNavigation {
public:
    void SetPanes(ITreePane* tree, IListPane* list) {
        m_tree = tree;
        m_list = list;
    }

    // The directory shown, "" when none is.
    const std::string& Current() const { return m_current; }

    // The tree selected `path`: the list shows it. Reselecting the directory shown costs no listing.
    void Show(const std::string& path);
    // The list reads the directory shown again; nothing when none is.
    void Reload();
    // The directory `name` of the one shown is opened through the tree.
    void Open(std::string_view name);
    // Up to the parent of the directory shown; nothing above a drive's root. False when there is no move.
    bool Up(const std::vector<DriveRow>& drives);
    // The device's directory `path` changed (a delete, a new folder): the tree reads it again.
    void Changed(const std::string& path);
    // Nothing is shown any more (a new connection).
    void Clear() { m_current.clear(); }

private:
    ITreePane* m_tree = nullptr;
    IListPane* m_list = nullptr;
    std::string m_current;
};
