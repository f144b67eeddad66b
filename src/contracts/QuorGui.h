// The host's GUI library "QuorGui.dll", as the control calls it: the file-transfer and task progress
// dialogs, host queries, the standard error display and help.
//
// Texts are narrow (system code page). Everything runs on the calling thread, whose message loop
// drives the library's windows. Nothing here throws.
#pragma once

#include <windows.h>
#include <unknwn.h>

#ifdef QUORGUI_BUILD
#define QUORGUI_API __declspec(dllexport)
#else
#define QUORGUI_API __declspec(dllimport)
#endif

// Modeless progress of file transfers, driven by the session's transfer events. The dialog shows
// itself when a batch starts and hides when it finishes; its owner never shows or hides it.
class QUORGUI_API CQuorDialogEventFile {
public:
    CQuorDialogEventFile();
    // Destroys the dialog's window if it still exists.
    virtual ~CQuorDialogEventFile();

    CQuorDialogEventFile(const CQuorDialogEventFile&) = delete;
    CQuorDialogEventFile& operator=(const CQuorDialogEventFile&) = delete;

    // Cancel posts `message` to `window` with wParam 0 and lParam the number of the running batch
    // (0 when the user cancels outside a batch).
    void SetCancelInfo(HWND window, UINT message);
    // Creates the (hidden) dialog window owned by `parent`, which may be null. FALSE when it already
    // exists or cannot be created.
    BOOL Create(HWND parent);
    // The dialog's window; null before Create and after the window is destroyed.
    HWND GetSafeHwnd() const;

    void OnFileXferBatchStart(long batch, const char* title, long files, long totalKB);
    // `upload` is non-zero for a transfer to the device.
    void OnFileXferFileStart(long batch, const char* source, const char* destination, long sizeBytes,
                             BYTE upload, const char* name);
    // `fileIndex` counts from 0 within the batch's `files`.
    void OnFileXferFileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal);
    void OnFileXferFileFinish(long batch, BYTE success);
    void OnFileXferBatchFinish(long batch, BYTE success);

private:
    HWND m_hWnd;
    HWND m_cancelWindow;
    UINT m_cancelMessage;
    long m_batch;
    long m_files;

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// Modeless progress of a device task (a typed operation), driven by the session's task events. It
// shows itself when a task starts and hides when the task completes.
class QUORGUI_API CQuorDialogEventTask {
public:
    CQuorDialogEventTask();
    // Destroys the dialog's window if it still exists.
    virtual ~CQuorDialogEventTask();

    CQuorDialogEventTask(const CQuorDialogEventTask&) = delete;
    CQuorDialogEventTask& operator=(const CQuorDialogEventTask&) = delete;

    BOOL Create(HWND parent);
    HWND GetSafeHwnd() const;

    // The results go back to the session as the events' results: 0 lets the task go on.
    long OnTaskStart(long task, const char* title, const char* file);
    // `percent` is clamped to 0..100.
    long OnTaskProgress(long task, long percent, const char* text, long step);
    void OnTaskComplete(long task, BYTE success);

private:
    HWND m_hWnd;

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// The kinds of query the session may put to the user (its HostQuery event carries them as a long).
enum _EQuorQueryType {
    eQuorQueryInform = 0,   // a message to acknowledge; the answer is ""
    eQuorQueryYesNo = 1,    // the answer is "Yes" or "No"
    eQuorQueryOkCancel = 2, // the answer is "OK" or "Cancel"
    eQuorQueryText = 3,     // the answer is the text entered; on entry `answer` holds the proposal
};

extern "C" {

// Puts a query to the user. `answer` is the session's text by reference, passed on as its event gave
// it: on entry it holds the proposal (null: none); when the query is handled the library replaces it with
// the answer and frees the old text. `answer` may be null when nobody wants the answer. TRUE when the
// query was handled: FALSE for an unknown type, a cancelled text entry, or when windows are disabled and
// no scripted answer is set.
QUORGUI_API BOOL QuorGUIHandleQuery(_EQuorQueryType type, const char* prompt, BSTR* answer, HWND owner);

// The host's standard error display: the session's last error text (when `session` can tell it)
// together with `code`, in a message box owned by `window`. `session` may be null.
QUORGUI_API void QuorShowStandardError(IUnknown* session, HWND window, long code);

// Shows help for context (a, b) of help file `file` (null: the host's own help) in a small window
// owned by `window`, which may be null.
QUORGUI_API void QuorGUIShowHelp(const char* file, long a, long b, HWND window);
}
