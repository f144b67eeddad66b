// VarnelHost.exe: the host application. See README.md for its command line.
#include <windows.h>

#include <ole2.h>

#include <cstdio>

#include "HostApplication.h"
#include "HostCommandLine.h"
#include "HostTour.h"
#include "HostWindow.h"

namespace {

// Without a console the text reaches whoever started the program with a pipe (a script, a test).
void Report(const std::wstring& text) {
    std::fwprintf(stderr, L"VarnelHost: %ls\n", text.c_str());
    std::fflush(stderr);
}

bool NamesTour(const std::vector<std::wstring>& args) {
    for (const std::wstring& arg : args)
        if (lstrcmpiW(arg.c_str(), L"--tour") == 0)
            return true;
    return false;
}

int RunLoop(CHostWindow* window) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window && window->PreTranslateMessage(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void CALLBACK QuitUnused(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(0);
}

int RunServer(HostMode mode) {
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    HRESULT hr = S_OK;
    if (mode == HostMode::Embedding) {
        CHostServer server;
        hr = server.Register(true);
        if (SUCCEEDED(hr)) {
            // COM started us for one object: if nobody asks for one within a minute, stop.
            SetTimer(nullptr, 0, 60000, QuitUnused);
            RunLoop(nullptr);
        }
    } else {
        hr = mode == HostMode::RegServer ? RegisterHostServer() : UnregisterHostServer();
    }
    if (FAILED(hr))
        Report(L"failed with " + std::to_wstring(static_cast<unsigned long>(hr)));
    CoUninitialize();
    return FAILED(hr) ? 1 : 0;
}

int RunWindow(const HostOptions& options, int show) {
    if (FAILED(OleInitialize(nullptr)))
        return 1;
    int result = 0;
    {
        CHostServer server;
        CHostWindow window;
        CHostTour tour(window, options.tourFolder);
        const bool touring = options.mode == HostMode::Tour;
        if (touring && !tour.Open()) {
            Report(L"cannot write to " + options.tourFolder);
            result = 1;
        } else {
            if (!touring)
                server.Register(false);
            window.QuitOnDestroy();
            if (touring)
                tour.Start();
            if (!window.Create(options, show)) {
                Report(L"cannot create the host window");
                result = 1;
            } else {
                RunLoop(&window);
                if (touring) {
                    result = tour.Result();
                    tour.Log(L"tour result " + std::to_wstring(result));
                }
            }
        }
    }
    OleUninitialize();
    return result;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    try {
        const std::vector<std::wstring> args = ProgramArguments();
        const HostOptions options = ParseHostCommandLine(args);
        if (!options.error.empty() || options.mode == HostMode::Usage) {
            const std::wstring text =
                options.error.empty() ? HostUsage() : options.error + L"\n\n" + HostUsage();
            Report(text);
            if (!NamesTour(args))
                MessageBoxW(nullptr, text.c_str(), L"Varnel Host",
                            options.error.empty() ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
            return options.error.empty() ? 0 : 2;
        }
        switch (options.mode) {
        case HostMode::RegServer:
        case HostMode::UnregServer:
        case HostMode::Embedding:
            return RunServer(options.mode);
        default:
            return RunWindow(options, options.mode == HostMode::Tour ? SW_SHOWNORMAL : show);
        }
    } catch (...) {
        Report(L"stopped by an unexpected error");
        return 3;
    }
}
