// Work handed from any thread to the thread that created the pump, run there from its message loop in
// the order it was posted. The session's worker reports through it, so every event reaches the sinks on
// the creating thread and never inside a call of the client.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <deque>
#include <functional>
#include <mutex>

class CEventPump {
public:
    // Creates the pump's message-only window on the calling thread. `owner` is kept alive while queued
    // work runs, since that work may release the client's last reference.
    explicit CEventPump(IUnknown* owner);
    // Destroys the window; work not yet run is dropped.
    ~CEventPump();
    CEventPump(const CEventPump&) = delete;
    CEventPump& operator=(const CEventPump&) = delete;

    // Any thread. The work runs later on the creating thread.
    void Post(std::function<void()> work);
    DWORD ThreadId() const { return m_thread; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Drain();

    IUnknown* m_owner;
    DWORD m_thread;
    HWND m_window = nullptr;
    std::mutex m_lock;
    std::deque<std::function<void()>> m_queue;
    bool m_posted = false;   // a wake-up message is on its way
    bool m_draining = false; // a handler further up the stack is running queued work
};
