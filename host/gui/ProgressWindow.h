// What the two progress dialogs share: keyboard handling while the host's loop does not know them,
// showing over the owner, and the texts for sizes and durations.
#pragma once

#include <windows.h>

#include <string>

namespace quorgui {

// A modeless dialog only gets Tab, Enter and Esc when the message loop passes its keys through
// IsDialogMessage, and the host's loop knows nothing of our dialogs. While at least one attached dialog
// is shown, a message hook of the thread does it for them (a hook costs every message of the thread, so
// it is not kept while nothing can have the keyboard). Attach at WM_INITDIALOG, pass WM_SHOWWINDOW on,
// detach at WM_NCDESTROY.
void AttachDialogKeyboard(HWND dialog);
void DialogKeyboardShown(HWND dialog, bool shown);
void DetachDialogKeyboard(HWND dialog);

// Shows a progress dialog centred over its owner. It takes the focus (so Esc reaches it) only when the
// program is already in the foreground: a transfer started from another program must not steal it.
void ShowProgressWindow(HWND dialog);

// "0:07", "12:30", "1:02:03".
std::string FormatDuration(DWORD milliseconds);
// "512 bytes", "12.3 KB", "4.5 MB", "1.20 GB". Negative sizes count as 0.
std::string FormatBytes(long long bytes);
// The time line under a progress bar: elapsed time, and once there is something to go by, the time
// still needed. `fraction` is the share done (0..1), `bytesDone` what moved so far (< 0: not known).
std::string FormatTimeLine(DWORD elapsedMs, double fraction, long long bytesDone);

} // namespace quorgui
