// Window base: one C++ object per window, found again on every message, with ATL-style message maps.
// Child controls' WM_NOTIFY and WM_COMMAND can be reflected back to the object that wraps the child.
#pragma once
#include <olectl.h>
#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    // Only checks that the window is gone: a window is destroyed by the class whose handlers it needs, in
    // that class's own destructor, while the object is still whole. One left alive is cut loose from
    // this object (its messages no longer reach it) rather than destroyed half-way.
    virtual ~CWnd();

    // className null: the framework's own class, whose procedure is this object's message map.
    // A system class (a list view, say) is created and then subclassed.
    virtual bool Create(const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                        UINT id, DWORD exStyle = 0);
    // Routes an existing window's messages through this object; unhandled ones go on to the window's own
    // procedure. The object is read from the window's user data on every message (the common controls'
    // subclass chain reads a property twice a message, which costs a trip to the window server on some
    // systems: 0.1 ms a message under Wine). A subclass someone else put on top later keeps working after
    // this object lets go.
    bool SubclassWindow(HWND hwnd);
    HWND UnsubclassWindow();
    void DestroyWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    bool IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    static CWnd* FromHandle(HWND hwnd);

    // Name of the framework's window class (registered once per module).
    static const char* DefaultClassName();
    // Unregisters that class when the module unloads, so that a module loaded again, perhaps at another
    // address, never finds a class whose procedure points into the code that went away.
    static void UnregisterDefaultClass();

    HWND m_hWnd = nullptr;

protected:
    // The message map (BEGIN_MSG_MAP ... END_MSG_MAP) answers true when it handled the message.
    virtual BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // The processing a message gets when the map leaves it alone.
    LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Called after the last message (WM_NCDESTROY) once the outermost handler of this window has returned,
    // so that a `delete this` here never pulls the object from under a handler further up the stack; the
    // handle is already detached.
    virtual void OnFinalMessage(HWND) {}
    // Sends WM_NOTIFY / WM_COMMAND from a child control back to the child as OCM_NOTIFY / OCM_COMMAND.
    LRESULT ReflectNotification(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Attach(HWND hwnd);
    // Takes this object's procedure out of the window's chain (or leaves it passing messages on).
    void Unhook(HWND hwnd);

    WNDPROC m_superProc = nullptr; // the window's own procedure, while subclassed
    // How many of this window's messages are being dispatched (nested sends count), and whether its
    // last message has passed while some were.
    int m_dispatching = 0;
    bool m_destroyed = false;
};

#define BEGIN_MSG_MAP(Class)                                                                                 \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override { \
        BOOL bHandled = TRUE;                                                                                \
        (void)hWnd;                                                                                          \
        (void)bHandled;

#define MESSAGE_HANDLER(msg, func)                                                                           \
    if (uMsg == (msg)) {                                                                                     \
        bHandled = TRUE;                                                                                     \
        lResult = func(uMsg, wParam, lParam, bHandled);                                                      \
        if (bHandled)                                                                                        \
            return TRUE;                                                                                     \
    }

#define COMMAND_ID_HANDLER(id, func)                                                                         \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                                      \
        bHandled = TRUE;                                                                                     \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);            \
        if (bHandled)                                                                                        \
            return TRUE;                                                                                     \
    }

// Notifications a child receives back from its parent (see REFLECT_NOTIFICATIONS).
#define REFLECTED_NOTIFY_CODE_HANDLER(notifyCode, func)                                                      \
    if (uMsg == OCM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(notifyCode)) {     \
        bHandled = TRUE;                                                                                     \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled);                \
        if (bHandled)                                                                                        \
            return TRUE;                                                                                     \
    }

#define REFLECT_NOTIFICATIONS()                                                                              \
    if (uMsg == WM_NOTIFY || uMsg == WM_COMMAND) {                                                           \
        bHandled = TRUE;                                                                                     \
        lResult = ReflectNotification(uMsg, wParam, lParam, bHandled);                                       \
        if (bHandled)                                                                                        \
            return TRUE;                                                                                     \
    }

#define END_MSG_MAP()                                                                                        \
    return FALSE;                                                                                            \
    }
