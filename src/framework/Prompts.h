// The one seam for everything modal. Code that asks the user something goes through Prompts(); the
// default implementation calls Win32, tests install a scripted one that checks each prompt's text and
// gives the answer, so no path needs a person.
#pragma once
#include <optional>
#include <string>
#include <windows.h>

class IPrompts {
public:
    virtual ~IPrompts() = default;
    // MessageBoxA: returns IDOK, IDYES, ...
    virtual int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
    // DialogBoxParamA over one of the module's dialog resources; `name` says which dialog for scripts.
    virtual INT_PTR DoModal(HINSTANCE instance, int dialogId, const std::string& name, HWND owner, DLGPROC proc,
                            LPARAM param) = 0;
    // TrackPopupMenu with TPM_RETURNCMD: the chosen command id, 0 when the menu is dismissed.
    virtual UINT TrackPopupMenu(HMENU menu, UINT flags, POINT screen, HWND owner) = 0;
    // The shell's folder browser over the whole namespace: the chosen folder's file-system path, nothing
    // when it is cancelled or the chosen item has no such path.
    virtual std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title) = 0;
};

class CWin32Prompts : public IPrompts {
public:
    int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
    INT_PTR DoModal(HINSTANCE instance, int dialogId, const std::string& name, HWND owner, DLGPROC proc,
                    LPARAM param) override;
    UINT TrackPopupMenu(HMENU menu, UINT flags, POINT screen, HWND owner) override;
    std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title) override;
};

// The owner every modal question of `window` gets: its top-level window, which the question disables
// while it is up, so that nothing in the host can change what the question is about.
HWND ModalOwner(HWND window);
// Centres `dialog` on its owner (on the work area when it has none), kept inside the owner's monitor.
void CenterOnOwner(HWND dialog);

IPrompts& Prompts();
// Installs a replacement (null restores the Win32 one); returns the previous one. Not owned.
IPrompts* SetPrompts(IPrompts* prompts);
