// Transfers through the session component, one request at a time as the control runs them (the next
// Submit only after the previous RequestComplete), each measured against CopyFile of the same files in
// the same run. Prints one "<name> <ratio>" line per measurement; the best of a few rounds counts, so a
// busy machine disturbs the figures less.
//
//   session_bench [--rounds N] [--large-mb N] [--small-files N]
#include <windows.h>
#include "WinTestSupport.h"
#include <ole2.h>
#include <ocidl.h>

#include "QuorSession_h.h"
#include "SessionFiles.h"
#include "paramblock/ParamBlock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {



void Fail(const std::string& what) {
    std::fprintf(stderr, "session_bench: %s\n", what.c_str());
    std::exit(1);
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

void RemoveTree(const std::string& path) {
    sessionfiles::RemoveTree(Wide(path));
}

void WriteBytes(const std::string& path, uint64_t size, uint32_t seed) {
    if (!sessionfiles::WritePattern(Wide(path), size, seed))
        Fail("cannot write " + path);
}

// Counts completions; everything else is ignored as a quiet host would.
class CompletionSink : public IDispatch {
public:
    long completed = 0;
    long failed = 0;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, DIID__IQuorSessionEvents)) {
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (id == 2) {
            ++completed;
            if (params->cArgs == 5 && V_VT(&params->rgvarg[2]) == VT_BOOL && !V_BOOL(&params->rgvarg[2]))
                ++failed;
        }
        if (result) {
            VariantInit(result);
            V_VT(result) = VT_I4;
            V_I4(result) = 0;
        }
        return S_OK;
    }
};

class Session {
public:
    explicit Session(const std::string& device) {
        HMODULE module = LoadLibraryA((ProgramDirectory() + "QuorSession.dll").c_str());
        auto get = module ? reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
                                reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))
                          : nullptr;
        IClassFactory* factory = nullptr;
        if (!get || FAILED(get(CLSID_QuorSession, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
            FAILED(factory->CreateInstance(nullptr, IID_IQuorSession2, reinterpret_cast<void**>(&m_session))))
            Fail("QuorSession.dll cannot be loaded from " + ProgramDirectory());
        factory->Release();
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        DWORD cookie = 0;
        if (FAILED(m_session->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(&container))) ||
            FAILED(container->FindConnectionPoint(DIID__IQuorSessionEvents, &point)) ||
            FAILED(point->Advise(&m_sink, &cookie)))
            Fail("no session events");
        point->Release();
        container->Release();
        BSTR connection = SysAllocString(Wide(device).c_str());
        BSTR client = SysAllocString(L"session_bench");
        LONG result = 0;
        m_session->Connect(connection, client, &result);
        SysFreeString(connection);
        SysFreeString(client);
        if (!result)
            Fail("cannot connect to " + device);
    }
    ~Session() {
        LONG result = 0;
        m_session->Disconnect(&result);
        m_session->Release();
    }

    // One request, then the message loop until it has completed.
    void Run(long request, const std::string& first, const std::string& second) {
        CParamBlock block;
        block.At(0).SetText(first.c_str());
        block.At(1).SetText(second.c_str());
        LONG result = 0, id = 0;
        const long before = m_sink.completed;
        m_session->Submit(request, block.ExportArray(), -1, &id, 0, 0, &result);
        if (!result)
            Fail("a request was refused");
        while (m_sink.completed == before) {
            MSG msg;
            if (GetMessageA(&msg, nullptr, 0, 0) <= 0)
                Fail("the message loop ended");
            DispatchMessageA(&msg);
        }
        if (m_sink.failed)
            Fail("a transfer failed: " + first);
    }

private:
    IQuorSession2* m_session = nullptr;
    CompletionSink m_sink;
};

// The best (shortest) times of `rounds` alternating runs of a baseline and a measured operation, each
// after its `reset`: alternating lets both see the same load on a shared machine.
struct Pair {
    double baseline = 1e30, measured = 1e30;
    double Ratio() const { return measured / baseline; }
};

Pair Compare(int rounds, const std::function<void()>& reset, const std::function<void()>& baseline,
             const std::function<void()>& measured) {
    Pair best;
    for (int i = 0; i < rounds; ++i)
        for (bool base : {true, false}) {
            reset();
            const double start = Seconds();
            base ? baseline() : measured();
            double& slot = base ? best.baseline : best.measured;
            slot = std::min(slot, Seconds() - start);
        }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 3, largeMb = 100, smallFiles = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--large-mb"))
            largeMb = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--small-files"))
            smallFiles = std::max(1, std::atoi(argv[i + 1]));
    }
    if (FAILED(CoInitialize(nullptr)))
        Fail("COM");

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "dvx-session-bench-" + std::to_string(GetCurrentProcessId());
    const std::string local = root + "\\local", device = root + "\\device", copies = root + "\\copies";
    RemoveTree(root);
    for (const std::string& dir : {root, local, device, copies, local + "\\small"})
        CreateDirectoryA(dir.c_str(), nullptr);
    WriteBytes(local + "\\large.bin", static_cast<uint64_t>(largeMb) << 20, 1);
    std::vector<std::string> names;
    for (int i = 0; i < smallFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%d.dat", i);
        names.push_back(name);
        WriteBytes(local + "\\small\\" + names.back(), 4096, static_cast<uint32_t>(i + 2));
    }

    const auto freshDir = [](const std::string& dir) {
        return [dir] {
            RemoveTree(dir);
            CreateDirectoryA(dir.c_str(), nullptr);
        };
    };
    const auto copyFile = [](const std::string& from, const std::string& to) {
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
            Fail("CopyFile " + from);
    };

    Session session(device);
    const long kSend = 0x1800, kReceive = 0x1801;

    // Large file: up to the device, then down from it, each against CopyFile of the same bytes.
    const Pair upLarge = Compare(
        rounds,
        [&] {
            freshDir(copies)();
            freshDir(device + "\\up")();
        },
        [&] { copyFile(local + "\\large.bin", copies + "\\large.bin"); },
        [&] { session.Run(kSend, local + "\\large.bin", "\\up\\"); });
    const Pair downLarge = Compare(
        rounds, freshDir(copies), [&] { copyFile(device + "\\up\\large.bin", copies + "\\large.bin"); },
        [&] { session.Run(kReceive, "\\up\\large.bin", copies); });

    // Small files, one request each.
    const Pair upSmall = Compare(
        rounds,
        [&] {
            freshDir(copies)();
            freshDir(device + "\\small")();
        },
        [&] {
            for (const std::string& n : names)
                copyFile(local + "\\small\\" + n, copies + "\\" + n);
        },
        [&] {
            for (const std::string& n : names)
                session.Run(kSend, local + "\\small\\" + n, "\\small\\");
        });
    const Pair downSmall = Compare(
        rounds, freshDir(copies),
        [&] {
            for (const std::string& n : names)
                copyFile(device + "\\small\\" + n, copies + "\\" + n);
        },
        [&] {
            for (const std::string& n : names)
                session.Run(kReceive, "\\small\\" + n, copies);
        });

    std::printf("session.upload_large_vs_copyfile %.3f\n", upLarge.Ratio());
    std::printf("session.download_large_vs_copyfile %.3f\n", downLarge.Ratio());
    std::printf("session.upload_small_vs_copyfile %.3f\n", upSmall.Ratio());
    std::printf("session.download_small_vs_copyfile %.3f\n", downSmall.Ratio());
    std::fprintf(
        stderr,
        "seconds (CopyFile / session): large up %.3f / %.3f, down %.3f / %.3f; small up %.3f / %.3f, "
        "down %.3f / %.3f\n",
        upLarge.baseline, upLarge.measured, downLarge.baseline, downLarge.measured, upSmall.baseline,
        upSmall.measured, downSmall.baseline, downSmall.measured);
    RemoveTree(root);
    CoUninitialize();
    return 0;
}
