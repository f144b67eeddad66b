// The scripted tour of `VarnelHost.exe --tour <folder>`: start, wait for the plug-in's connection
// status, screenshots of the window, of the Connect dialog and of the plug-in's about box, a resize and
// a screenshot, a browse through the plug-in's panes as a person would (a directory opened in the tree,
// the file list sorted by size with a click on its header, the bar between the panes dragged) and a
// screenshot, the file commands (the delete confirmation answered "No", a dropped program file with its
// menu, the upload with the host's progress dialog, a dropped batch with failures and its summary), a
// resize below the plug-in's minimum, exit. Runs on the host's own message loop (a
// thread timer, so it goes on inside the dialogs' modal loops) and records every step and every call
// between host and plug-in in <folder>\tour.log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CHostWindow;

class CHostTour {
public:
    CHostTour(CHostWindow& host, std::wstring folder);
    CHostTour(const CHostTour&) = delete;
    CHostTour& operator=(const CHostTour&) = delete;
    ~CHostTour();

    // Creates the folder and the record; the host's own lines go to the record from now on. False when
    // the folder cannot be written.
    bool Open();
    // Starts the steps; they wait for the host window to exist.
    void Start();
    // 0: every screenshot was taken, 1: a step failed, 2: the tour ran out of time.
    int Result() const { return m_result; }
    void Log(const std::wstring& line);

    // Longest wait for the plug-in's first connection status.
    static constexpr DWORD kStatusWait = 5000;

private:
    enum class Step {
        WaitForStatus,
        ShotHost,
        OpenConnect,
        ShotConnect,
        OpenAbout,
        ShotAbout,
        Resize,
        ShotResized,
        Browse,
        SortBySize,
        MoveSplitter,
        ShotBrowser,
        PressDelete,
        ShotConfirm,
        DropProgram,
        ShotDropMenu,
        DragOverTree,
        ShotDragOver,
        DragEnding,
        ContextMenu,
        ShotContextMenu,
        DropBatch,
        ShotError,
        ShotSummary,
        Throttle,
        DropLarge,
        ShotProgress,
        ShrinkBelowMinimum,
        Exit,
        Done
    };

    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void Next(Step step);
    DWORD InStep() const { return GetTickCount() - m_stepStart; }
    bool Shot(const wchar_t* name);
    // `pixels` at 96 DPI at the host window's DPI: every tour shows the same layout at any DPI.
    int Scaled(int pixels) const;
    // One browse step on the plug-in's panes, with the messages a person's mouse and clicks give.
    bool Browse(Step step);
    // A visible dialog box that was not there at the start of the tour: the one a step opened, or
    // one the plug-in opened on its own.
    HWND NewDialog() const;
    void CloseDialog(HWND dialog, int preferred);
    // A box the tour did not open (an error from the plug-in, say): recorded, photographed, closed.
    bool HandleUnexpectedDialog();
    void Fail(const std::wstring& why);
    // A visible dialog box of this thread with that caption, opened since the tour started.
    HWND NewDialogTitled(const wchar_t* caption) const;
    // Waits for the dialog a step opened, photographs it after it settled and answers it; true when done
    // (also when it never came: that fails the tour).
    bool ShootDialog(const wchar_t* caption, const wchar_t* shot, int answer, DWORD wait);
    // True once `window` has been up for a while (painted): its first sight starts the clock.
    bool Settled(HWND window);
    // The dialog's caption and texts into the record, then its screenshot.
    void ShootWithTexts(HWND dialog, const wchar_t* shot);
    // The files of the transfer steps, in the tour's folder and on the demo device.
    std::wstring LocalFile(const wchar_t* name) const { return m_folder + L"\\" + name; }
    bool WriteLocalFile(const wchar_t* name, LONGLONG size);
    // Posts a shell drop of these local files onto the plug-in's file list.
    bool DropOnList(const std::vector<std::wstring>& files);
    // Photographs the popup menu a step opened once it settled, then dismisses it with Escape; true when
    // the step is over (also when no menu came: that fails the tour).
    bool ShootMenu(const wchar_t* shot, const wchar_t* what);
    // A real OLE drag of the program file from outside the host over a folder of the plug-in's tree,
    // photographed from inside the drag's loop and cancelled with Escape.
    void DragOverTree();
    void RemoveTransferFiles();

    CHostWindow& m_host;
    std::wstring m_folder;
    HANDLE m_record = INVALID_HANDLE_VALUE;
    UINT_PTR m_timer = 0;
    Step m_step = Step::WaitForStatus;
    DWORD m_start = 0;
    DWORD m_stepStart = 0;
    std::vector<HWND> m_before; // dialogs already visible when the tour started
    HWND m_seenDialog = nullptr;
    DWORD m_seenAt = 0;
    int m_unexpected = 0;
    bool m_hostSeen = false;
    std::vector<HANDLE> m_locks; // files held open exclusively so that their upload fails
    bool m_menuAnswered = false;
    HANDLE m_dragShot = nullptr; // set once the drag over the tree was photographed
    POINT m_dragTarget = {};
    bool m_shotTaken = false;
    int m_result = 0;
};
