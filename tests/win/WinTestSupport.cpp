#include "WinTestSupport.h"

std::string ProgramDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Pump(DWORD ms, const std::function<bool()>& until, std::vector<SeenMessage>* seen) {
    const DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (seen)
                seen->push_back({msg.hwnd, msg.message, msg.lParam});
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (until && until())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        // Not alertable: queued procedure calls must wait for the code that is meant to run them.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

size_t HeapBytesInUse() {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    size_t total = 0;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        if (!HeapLock(heaps[h]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[h], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        HeapUnlock(heaps[h]);
    }
    return total;
}

namespace {
BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}
BOOL CALLBACK CountTop(HWND window, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountChild, count);
    return TRUE;
}
} // namespace

int ThreadWindowCount() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountTop, reinterpret_cast<LPARAM>(&count));
    return count;
}

DWORD ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    // Some systems (Wine) answer 0 there; the system's handle table still says.
    struct Entry {
        ULONG process;
        BYTE type, flags;
        USHORT value;
        void* object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 20);
    ULONG length = 0;
    LONG status = -1;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kTooSmall = static_cast<LONG>(0xC0000004);
    while (query && (status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                                     &length)) == kTooSmall)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
    for (ULONG i = 0; i < entries; ++i)
        count += entry[i].process == GetCurrentProcessId();
    return count;
}

RECT RectIn(HWND window, HWND parent) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool WithHand(const std::function<void()>& hand, DWORD ms) {
    return JoinHand(StartHand(hand), ms);
}

HANDLE StartHand(const std::function<void()>& hand) {
    struct Run {
        static DWORD WINAPI Thread(void* work) {
            (*static_cast<const std::function<void()>*>(work))();
            return 0;
        }
    };
    return CreateThread(nullptr, 0, Run::Thread, const_cast<std::function<void()>*>(&hand), 0, nullptr);
}

bool JoinHand(HANDLE thread, DWORD ms) {
    if (!thread)
        return false;
    const bool done = Pump(ms, [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; });
    // The hand's work refers to the caller's objects: it must be over before they go.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return done;
}
