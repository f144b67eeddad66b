// The "Connect" dialog: asks for a new connection text, proposing the current one.
#pragma once

#include <windows.h>

#include <string>

// True and the new text when the user confirmed a non-empty connection; false when cancelled.
bool AskForConnection(HWND owner, std::wstring& connection);
