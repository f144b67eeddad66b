#include "EventPump.h"

#include "framework/ComError.h"
#include "framework/Module.h"

namespace {

const wchar_t kClassName[] = L"QuorSessionEventPump";
constexpr UINT kWakeMessage = WM_APP + 1;

// The class lives as long as a pump does, so an unloaded and reloaded module registers its own
// window procedure again.
int g_pumps = 0;

bool AcquireClass(WNDPROC proc) {
    CModuleLock lock;
    if (g_pumps == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.hInstance = CModule::Instance();
        wc.lpszClassName = kClassName;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return false;
    }
    ++g_pumps;
    return true;
}

void ReleaseClass() {
    CModuleLock lock;
    if (--g_pumps == 0)
        UnregisterClassW(kClassName, CModule::Instance());
}

} // namespace

CEventPump::CEventPump(IUnknown* owner) : m_owner(owner), m_thread(GetCurrentThreadId()) {
    if (!AcquireClass(&CEventPump::WindowProc))
        throw CComError(HRESULT_FROM_WIN32(GetLastError()));
    m_window =
        CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, CModule::Instance(), this);
    if (!m_window) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        ReleaseClass();
        throw CComError(hr);
    }
}

CEventPump::~CEventPump() {
    SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    DestroyWindow(m_window);
    ReleaseClass();
}

void CEventPump::Post(std::function<void()> work) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.push_back(std::move(work));
        wake = !m_posted;
        m_posted = true;
    }
    // One message for any number of queued items keeps the thread's message queue short however
    // fast the worker reports.
    if (wake && !PostMessageW(m_window, kWakeMessage, 0, 0)) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_posted = false;
    }
}

void CEventPump::Drain() {
    // A sink that runs a modal loop lets the wake-up message in again; the outer drain carries on
    // in order when the sink returns.
    if (m_draining)
        return;
    m_draining = true;
    m_owner->AddRef();
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_queue.empty()) {
                m_posted = false;
                break;
            }
            work = std::move(m_queue.front());
            m_queue.pop_front();
        }
        try {
            work();
        } catch (...) {
            // A failed report must not stop the ones behind it, nor leave the window procedure.
        }
    }
    m_draining = false;
    m_owner->Release(); // may destroy this pump: nothing of it is touched afterwards
}

LRESULT CALLBACK CEventPump::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == kWakeMessage) {
        if (auto* pump = reinterpret_cast<CEventPump*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            pump->Drain();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
