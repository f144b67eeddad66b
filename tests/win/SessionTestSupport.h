// Drives QuorSession.dll (loaded from bin/) through COM as a client does: a session object, a sink that
// records every event with its argument types, helpers for blocks, folders and the message loop.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include "QuorSession_h.h"
#include "DeviceSessionDouble.h" // Pump, ProgramDirectory
#include "paramblock/ParamBlock.h"
#include "contracts/RequestCodes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sessiontest {

// One argument as the sink received it.
struct Arg {
    VARTYPE type = VT_EMPTY;
    long long number = 0; // any number, VARIANT_BOOL included
    std::string text;
};

struct Event {
    DISPID id = 0;
    std::vector<Arg> args;   // in the order the event declares them
    bool duringCall = false; // arrived while the test was inside a session method
    ULONGLONG tick = 0;
    long Long(size_t i) const { return static_cast<long>(args.at(i).number); }
    const std::string& Text(size_t i) const { return args.at(i).text; }
};

class CEventSink : public IDispatch {
public:
    std::vector<Event> events;
    // HostQuery: the text put into the answer slot, and the long returned.
    std::string queryAnswer = "No";
    long queryResult = 0;
    // Returned by TaskStart and by TaskProgress.
    long taskStartResult = 0;
    long taskProgressResult = 0;
    // Runs after an event is recorded (a test may call the session from inside an event).
    std::function<void(const Event&)> onEvent;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    std::vector<Event> Of(DISPID id) const;

private:
    ULONG m_refs = 1;
};

// A session object made by the class object of bin\QuorSession.dll, with a sink advised.
class CSessionClient {
public:
    // Connected to `connection` when one is given (a failed connection is reported).
    explicit CSessionClient(const std::string& connection = "");
    ~CSessionClient();
    CSessionClient(const CSessionClient&) = delete;
    CSessionClient& operator=(const CSessionClient&) = delete;

    IQuorSession2* operator->() const { return m_session; }
    CEventSink sink;
    CParamBlock out; // the answer of the last Execute

    long Connect(const std::string& text);
    long Disconnect();
    long Execute(long request, CParamBlock& input, long wait = 5000);
    long Exec(long request, const std::vector<std::string>& texts, long wait = 5000);
    // The error code of a request that failed, or -1 when it did not fail.
    long Refused(long request, const std::vector<std::string>& texts, long wait = 5000);
    long Submit(long request, CParamBlock& input, long& id, LONG_PTR userData = 0, long wait = -1);
    // Submits and pumps until its RequestComplete; the event, or a failed assertion.
    Event Run(long request, CParamBlock& input, long* id = nullptr, DWORD timeoutMs = 20000);
    Event Run(long request, const std::vector<std::string>& texts, long* id = nullptr);
    // The RequestComplete events that carry this user data.
    std::vector<Event> Completions(LONG_PTR userData) const;
    std::string ErrorText(long* code = nullptr);
    long ErrorCode() {
        long code = 0;
        ErrorText(&code);
        return code;
    }
    // The result of ReserveDevice and ReleaseDevice.
    long Reserve(long wait);
    long ReleaseDevice();

private:
    IQuorSession2* m_session = nullptr;
    DWORD m_cookie = 0;
    LONG_PTR m_nextUserData = 0x7000;
};

// A block of texts.
void Texts(CParamBlock& block, const std::vector<std::string>& texts);

// The names of the 784-byte listing records of an answer (read by their documented offsets) in their
// order, directories with a trailing slash, each followed by a blank.
std::string Names(CParamBlock& answer);

// A fresh folder under the system's temporary folder, removed with its contents afterwards.
class CTempFolder {
public:
    explicit CTempFolder(const char* tag);
    ~CTempFolder();
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};
void MakeDirs(const std::string& path);
void WriteFileText(const std::string& path, const std::string& content);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
// Every file and directory below root with its size ("dir/" for directories), for before/after checks.
std::vector<std::string> Snapshot(const std::string& root);
// Deterministic bytes for large files, written block by block, and their FNV-1a hash.
void WritePatternFile(const std::string& path, uint64_t size, uint32_t seed);
uint64_t HashFile(const std::string& path);

// Each test runs in a single-threaded apartment, as the control does, with a device and a local folder.
class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
    CTempFolder device{"device"}, local{"local"};
};

} // namespace sessiontest
