// What the views, the navigation and the transfer runner ask of the device, each request answering with
// its own outcome. Portable: the session component implements it over COM, tests over a script.
#pragma once
#include "contracts/RequestCodes.h"
#include "contracts/SessionErrors.h"
#include "paramblock/ParamBlock.h"
#include <cstdint>
#include <string>

// The outcome of one request. A failure carries the session's code and text as they were right after the
// failing call: a later call would replace them.
struct RequestResult {
    bool ok = false;
    long code = 0;
    std::string text;

    static RequestResult Success() { return {true, 0, {}}; }
    static RequestResult Failure(long code, std::string text) { return {false, code, std::move(text)}; }
    explicit operator bool() const { return ok; }
    // A failure the user has already been told about, or that was the user's own doing: a cancel, or a lost
    // connection, which the host reports itself.
    bool Quiet() const { return !ok && (code == SE_CANCELLED || code == SE_CONNECTION_LOST); }
};

class IDeviceRequests {
public:
    virtual ~IDeviceRequests() = default;

    // A synchronous request: `input` goes to the device, its answer (when `answer` is given) comes back
    // in `answer`. Waits at most `wait` ms.
    virtual RequestResult Execute(long request, CParamBlock& input, CParamBlock* answer, long wait) = 0;
    // An asynchronous request: its completion arrives later as an event with `userData`. `requestId`
    // receives the id a cancel names.
    virtual RequestResult Submit(long request, CParamBlock& input, long wait, uintptr_t userData,
                                 long& requestId) = 0;
    virtual RequestResult ReserveDevice(long wait) = 0;
    virtual RequestResult ReleaseDevice() = 0;
    virtual RequestResult Cancel(long requestId, long mode) = 0;

    RequestResult Probe(long wait);
    // The entries of directory `path`, as the device's answer block.
    RequestResult List(const std::string& path, long wait, CParamBlock& answer);
    RequestResult ChangeDir(const std::string& path, long wait);
    // A directory `name` in the current directory.
    RequestResult MakeDir(const std::string& name, long wait);
    RequestResult RemoveFile(const std::string& path, long wait);
    // The directory and everything below it.
    RequestResult RemoveDir(const std::string& path, long wait);

private:
    RequestResult OnePath(long request, const std::string& path, long wait, CParamBlock* answer = nullptr);
};
