#include "framework/Wnd.h"
#include "framework/Module.h"
#include <commctrl.h>

namespace {
const char kThisProp[] = "Dorvex.CWnd";
const char kSuperProp[] = "Dorvex.CWnd.Super";
const char kClassName[] = "DorvexFrameworkWnd";
bool g_registered = false;
} // namespace

CWnd::~CWnd() {
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        OutputDebugStringA("Dorvex: a window outlived its object; it is detached, not destroyed\n");
        HWND hwnd = m_hWnd;
        UnsubclassWindow();
        RemovePropA(hwnd, kThisProp);
        if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == StaticWndProc)
            SetWindowLongPtrA(hwnd, 0, 0);
    }
    m_hWnd = nullptr;
}

void CWnd::UnregisterDefaultClass() {
    if (g_registered)
        UnregisterClassA(kClassName, CModule::Instance());
    g_registered = false;
}

const char* CWnd::DefaultClassName() {
    if (!g_registered) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = StaticWndProc;
        // The object, read on every message without a trip to the window system (a property would be one).
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = CModule::Instance();
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kClassName;
        WNDCLASSEXA existing = {};
        existing.cbSize = sizeof(existing);
        g_registered = GetClassInfoExA(wc.hInstance, kClassName, &existing) || RegisterClassExA(&wc);
    }
    return kClassName;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (!hwnd)
        return nullptr;
    // From the window itself where it can be (no trip to the window server); the property otherwise.
    const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
    if (proc == &CWnd::SubclassProc)
        return reinterpret_cast<CWnd*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (proc == &CWnd::StaticWndProc)
        return reinterpret_cast<CWnd*>(GetWindowLongPtrA(hwnd, 0));
    return static_cast<CWnd*>(GetPropA(hwnd, kThisProp));
}

void CWnd::Attach(HWND hwnd) {
    m_hWnd = hwnd;
    SetPropA(hwnd, kThisProp, this);
}

bool CWnd::Create(const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                  UINT id, DWORD exStyle) {
    if (IsWindow())
        return false;
    const bool own = className == nullptr;
    HMENU menu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
    HWND hwnd = CreateWindowExA(exStyle, own ? DefaultClassName() : className, windowName, style, rect.left,
                                rect.top, rect.right - rect.left, rect.bottom - rect.top, parent, menu,
                                CModule::Instance(), own ? this : nullptr);
    if (!hwnd)
        return false;
    if (!own)
        SubclassWindow(hwnd);
    return true;
}

bool CWnd::SubclassWindow(HWND hwnd) {
    if (!hwnd || m_hWnd)
        return false;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_superProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    if (!m_superProc) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        return false;
    }
    // For messages that reach this procedure after the object let go (a later subclass still calls it).
    SetPropA(hwnd, kSuperProp, reinterpret_cast<HANDLE>(m_superProc));
    Attach(hwnd);
    return true;
}

void CWnd::Unhook(HWND hwnd) {
    if (!m_superProc)
        return;
    // Only a procedure still on top can be taken out; under someone else's it stays and passes messages on.
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == &CWnd::SubclassProc) {
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
        RemovePropA(hwnd, kSuperProp);
    }
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    m_superProc = nullptr;
}

HWND CWnd::UnsubclassWindow() {
    HWND hwnd = m_hWnd;
    if (hwnd && m_superProc) {
        Unhook(hwnd);
        RemovePropA(hwnd, kThisProp);
    }
    m_superProc = nullptr;
    m_hWnd = nullptr;
    return hwnd;
}

void CWnd::DestroyWindow() {
    if (IsWindow())
        ::DestroyWindow(m_hWnd);
}

BOOL CWnd::ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&) { return FALSE; }

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ProcessWindowMessage(m_hWnd, msg, wParam, lParam, result))
        return result;
    return DefWindowProc(msg, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (m_superProc)
        return CallWindowProcA(m_superProc, m_hWnd, msg, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

LRESULT CWnd::ReflectNotification(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    HWND child = nullptr;
    if (msg == WM_NOTIFY)
        child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
    else if (msg == WM_COMMAND && lParam)
        child = reinterpret_cast<HWND>(lParam);
    if (!child || !FromHandle(child)) {
        handled = FALSE;
        return 0;
    }
    return SendMessageA(child, OCM__BASE + msg, wParam, lParam);
}

LRESULT CWnd::Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    ++m_dispatching;
    // Nothing raised by a handler may reach the system's dispatcher.
    try {
        result = WindowProc(msg, wParam, lParam);
    } catch (...) {
        result = m_superProc ? CallWindowProcA(m_superProc, hwnd, msg, wParam, lParam)
                             : ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY) {
        Unhook(hwnd);
        RemovePropA(hwnd, kThisProp);
        m_hWnd = nullptr;
        m_destroyed = true;
    }
    // The last message may have come inside a handler further up: the object must outlive that one.
    if (--m_dispatching == 0 && m_destroyed) {
        m_destroyed = false;
        OnFinalMessage(hwnd);
    }
    return result;
}

LRESULT CALLBACK CWnd::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hwnd, 0));
    if (!self && msg == WM_NCCREATE) {
        self = static_cast<CWnd*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self) {
            self->Attach(hwnd);
            SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(self));
        }
    }
    if (!self)
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    const LRESULT result = self->Dispatch(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY)
        SetWindowLongPtrA(hwnd, 0, 0);
    return result;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && self->m_hWnd == hwnd && self->m_superProc)
        return self->Dispatch(hwnd, msg, wParam, lParam);
    if (auto super = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kSuperProp)))
        return CallWindowProcA(super, hwnd, msg, wParam, lParam);
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}
