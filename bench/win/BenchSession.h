// What the Wine benchmarks share: the clock, the session component driven directly (one request at a
// time, each after the previous completion, as the control runs them), and the alternating best-of
// comparison against a baseline measured in the same run.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include "QuorSession_h.h"
#include "WinTestSupport.h"
#include "SessionFiles.h"
#include "paramblock/ParamBlock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

// The program's name in its failure messages.
extern const char* g_benchName;

namespace bench {

// The program's own folder, where the session component lies.
inline std::string BinDir() {
    return ProgramDirectory();
}

inline void Fail(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", g_benchName, what.c_str());
    std::exit(1);
}

inline std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

inline void RemoveTree(const std::string& path) {
    sessionfiles::RemoveTree(Wide(path));
}

inline void WriteBytes(const std::string& path, uint64_t size, uint32_t seed) {
    if (!sessionfiles::WritePattern(Wide(path), size, seed))
        Fail("cannot write " + path);
}

// The programs' options: --rounds N, --large-mb N, --small-files N.
struct Options {
    int rounds = 3, largeMb = 100, smallFiles = 2000;
    Options(int argc, char** argv) {
        for (int i = 1; i + 1 < argc; i += 2) {
            const int value = std::max(1, std::atoi(argv[i + 1]));
            if (!std::strcmp(argv[i], "--rounds"))
                rounds = value;
            else if (!std::strcmp(argv[i], "--large-mb"))
                largeMb = value;
            else if (!std::strcmp(argv[i], "--small-files"))
                smallFiles = value;
        }
    }
};

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
        HMODULE module = LoadLibraryA((BinDir() + "QuorSession.dll").c_str());
        auto get = module ? reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
                                reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))
                          : nullptr;
        IClassFactory* factory = nullptr;
        if (!get || FAILED(get(CLSID_QuorSession, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
            FAILED(factory->CreateInstance(nullptr, IID_IQuorSession2, reinterpret_cast<void**>(&m_session))))
            Fail("QuorSession.dll cannot be loaded from " + BinDir());
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
        BSTR client = SysAllocString(L"bench");
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

    IQuorSession2* operator->() const { return m_session; }

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
// after its `reset`: alternating lets both see the same load on a shared machine, and which goes first
// alternates too, so that neither always runs on what the other left behind.
struct Pair {
    double baseline = 1e30, measured = 1e30;
    double Ratio() const { return measured / baseline; }
};

inline Pair Compare(int rounds, const std::function<void()>& reset, const std::function<void()>& baseline,
             const std::function<void()>& measured) {
    Pair best;
    for (int i = 0; i < rounds; ++i)
        for (bool base : {i % 2 == 0, i % 2 != 0}) {
            reset();
            const double start = Seconds();
            base ? baseline() : measured();
            double& slot = base ? best.baseline : best.measured;
            slot = std::min(slot, Seconds() - start);
        }
    return best;
}

} // namespace bench
