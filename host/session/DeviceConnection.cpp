#include "DeviceConnection.h"

#include "CancelToken.h"
#include "DeviceError.h"
#include "DeviceReservations.h"

#include "contracts/RequestCodes.h"
#include "paramblock/ParamBlock.h"

#include <cstdio>

namespace {
std::wstring LowerCase(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}
} // namespace

std::string RequestName(long request) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04lX", static_cast<unsigned long>(request));
    return text;
}

CDeviceConnection::CDeviceConnection(ConnectionSettings settings, const std::wstring& folder)
    : m_settings(std::move(settings)), m_folder(folder), m_key(LowerCase(m_folder.Root())),
      m_successes(m_settings.failures.size(), 0) {}

void CDeviceConnection::AwaitAnswer(long wait, CCancelToken* cancel) const {
    const uint32_t latency = m_settings.latencyMs;
    const bool timesOut = wait > 0 && static_cast<uint32_t>(wait) < latency;
    const uint32_t pause = timesOut ? static_cast<uint32_t>(wait) : latency;
    if (pause) {
        if (cancel && !cancel->Sleep(pause))
            throw CDeviceError(cancel->Reason(), "The request was cancelled.");
        if (!cancel)
            Sleep(pause);
    }
    if (timesOut)
        throw CDeviceError(SE_TIMEOUT, "The device did not answer within " + std::to_string(wait) + " ms.");
}

void CDeviceConnection::CheckInjectedFailure(long request) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (size_t i = 0; i < m_settings.failures.size(); ++i) {
        const FaultRule& rule = m_settings.failures[i];
        if (rule.request != request)
            continue;
        if (m_successes[i] >= rule.after)
            throw CDeviceError(SE_INJECTED_FAILURE,
                               "The device failed request " + RequestName(request) + ".");
        ++m_successes[i];
    }
}

void CDeviceConnection::CheckNotReservedByOther(const void* session) const {
    if (CDeviceReservations::HeldByOther(m_key, session))
        throw CDeviceError(SE_BUSY, "The device is reserved by another session.");
}

namespace {
// What each request takes, element by element ('t' a text, 'b' a boolean), and whether it is answered at
// once, without transfer or task events.
struct RequestShape {
    long code;
    const char* input;
    bool immediate;
};
const RequestShape kRequests[] = {
    {REQ_FS_PROBE, "", true},          {REQ_MAKE_DIR, "t", true},      {REQ_CHANGE_DIR, "t", true},
    {REQ_LIST_DIR, "t", true},         {REQ_DELETE_FILE, "t", true},   {REQ_DELETE_DIR, "tb", true},
    {REQ_CONNECT_CHECK, "", true},     {REQ_FIRMWARE_SPECS, "", true}, {REQ_PROGRAM_SPEC, "", true},
    {REQ_DISPLAY_LIST_SPEC, "", true}, {REQ_SEND_FILE, "tt", false},   {REQ_RECEIVE_FILE, "tt", false},
    {REQ_UPDATE_FIRMWARE, "t", false}, {REQ_LOAD_PROGRAM, "t", false}, {REQ_LOAD_DISPLAY_LIST, "t", false},
};

const RequestShape* FindRequest(long request) {
    for (const RequestShape& shape : kRequests)
        if (shape.code == request)
            return &shape;
    return nullptr;
}
} // namespace

bool CDeviceConnection::IsImmediate(long request) {
    const RequestShape* shape = FindRequest(request);
    return shape && shape->immediate;
}

bool CDeviceConnection::IsKnown(long request) {
    return FindRequest(request) != nullptr;
}

void CDeviceConnection::CheckInput(long request, CParamBlock& input) {
    const RequestShape* shape = FindRequest(request);
    if (!shape)
        return;
    std::string given;
    for (size_t i = 0; i < input.Count(); ++i) {
        const uint32_t kind = input.At(i).Kind();
        given += kind == PK_TEXT ? 't' : kind == PK_BOOL ? 'b' : '?';
    }
    // An element more or less, or one of another kind, is a request the device does not know. Past this
    // check a request reads its elements without looking again.
    if (given != shape->input) {
        std::string takes;
        for (const char* kind = shape->input; *kind; ++kind)
            takes += std::string(takes.empty() ? "" : ", ") + (*kind == 't' ? "a text" : "a boolean");
        throw CDeviceError(SE_BAD_INPUT, "Request " + RequestName(request) + " takes " +
                                             (takes.empty() ? "no elements" : takes) + " and nothing else.");
    }
}

void CDeviceConnection::RunImmediate(long request, CParamBlock& input, CParamBlock& answer,
                                     const void* session) {
    answer.Clear(true);
    switch (request) {
    case REQ_FS_PROBE:
    case REQ_CONNECT_CHECK:
        if (!m_folder.Present())
            throw CDeviceError(request == REQ_FS_PROBE ? SE_NOT_FOUND : SE_CHECK_FAILED,
                               "The device has no file system.");
        if (request == REQ_CONNECT_CHECK && m_settings.checkFails)
            throw CDeviceError(SE_CHECK_FAILED, "The device did not pass the connection check.");
        return;
    case REQ_LIST_DIR:
        m_folder.List(input.At(0).GetText(), answer);
        return;
    case REQ_CHANGE_DIR: {
        const CDeviceItem dir = m_folder.Directory(input.At(0).GetText());
        std::lock_guard<std::mutex> lock(m_lock);
        m_currentDirectory = dir.Remote(true);
        return;
    }
    case REQ_MAKE_DIR: {
        const std::string name = input.At(0).GetText();
        CheckNotReservedByOther(session);
        std::string current;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            current = m_currentDirectory;
        }
        m_folder.MakeDirectory(current, name);
        return;
    }
    case REQ_DELETE_FILE: {
        const std::string path = input.At(0).GetText();
        CheckNotReservedByOther(session);
        m_folder.DeleteFile(path);
        return;
    }
    case REQ_DELETE_DIR: {
        const std::string path = input.At(0).GetText();
        // Contents go only when the request says so: false deletes empty directories only.
        const bool withContents = input.At(1).GetBool();
        CheckNotReservedByOther(session);
        m_folder.DeleteDirectory(path, withContents);
        return;
    }
    case REQ_FIRMWARE_SPECS:
        for (size_t i = 0; i < m_settings.firmwarePatterns.size(); ++i)
            answer.At(i).SetText(m_settings.firmwarePatterns[i].c_str());
        return;
    case REQ_PROGRAM_SPEC:
        answer.At(0).SetText(m_settings.programPattern.c_str());
        return;
    case REQ_DISPLAY_LIST_SPEC:
        answer.At(0).SetText(m_settings.displayListPattern.c_str());
        return;
    default:
        throw CDeviceError(SE_UNKNOWN_REQUEST,
                           "The device does not know request " + RequestName(request) + ".");
    }
}
