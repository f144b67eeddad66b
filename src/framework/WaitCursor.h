// The hourglass for the length of a scope: synchronous device requests block the user-interface thread.
#pragma once
#include <windows.h>

class CWaitCursor {
public:
    CWaitCursor() : m_previous(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { SetCursor(m_previous); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_previous;
};
