#include "RequestRunner.h"

#include "CancelToken.h"
#include "DeviceConnection.h"
#include "DeviceError.h"
#include "SessionEvents.h"
#include "session/DevicePath.h"

#include "contracts/RequestCodes.h"
#include "framework/Handles.h"
#include "paramblock/AsciiCase.h"

#include <vector>

namespace {

// Progress is reported after every block. Blocks start at 64 KiB and grow while they are quick (large
// blocks are what makes a big file as fast as a plain copy) and shrink when they are slow, so progress
// comes at least every 100 ms; a throttled stream uses blocks of a twentieth of its rate.
constexpr DWORD kFirstBlockSize = 64 * 1024;
constexpr DWORD kMaxBlockSize = 1024 * 1024;
constexpr DWORD kMinBlockSize = 4 * 1024;
constexpr ULONGLONG kQuickBlockMs = 20, kSlowBlockMs = 50;
constexpr ULONGLONG kTaskProgressMs = 100;

long ClampLong(uint64_t value) {
    return value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(value);
}

std::string CancelText(long reason) {
    switch (reason) {
    case SE_CANCELLED:
        return "The request was cancelled.";
    case SE_DISCONNECTED:
        return "The session was disconnected before the request finished.";
    default:
        return "The connection to the device was lost.";
    }
}

void ThrowIfCancelled(const CCancelToken& cancel) {
    if (cancel.Cancelled())
        throw CDeviceError(cancel.Reason(), CancelText(cancel.Reason()));
}

std::wstring WidePath(const std::string& path, long errorCode) {
    std::wstring wide;
    if (!WideFromDeviceText(path, wide))
        throw CDeviceError(errorCode, "The path \"" + path + "\" cannot be used.");
    return wide;
}

std::wstring Join(const std::wstring& directory, const std::wstring& name) {
    return directory.empty() || directory.back() == L'\\' ? directory + name : directory + L'\\' + name;
}

// A local path as given by the client, checked and in the long-path form.
std::wstring LocalPath(const std::string& path, const char* what) {
    if (!devicepath::IsAbsoluteLocalPath(path))
        throw CDeviceError(SE_BAD_INPUT,
                           std::string("The ") + what + " \"" + path + "\" is not a full local path.");
    const std::wstring wide = WidePath(path, SE_BAD_INPUT);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size())
        throw CDeviceError(SE_BAD_INPUT,
                           std::string("The ") + what + " \"" + path + "\" is not a valid path.");
    full.resize(n);
    // "C:\dir\" and "C:\dir" name the same directory; only a drive's root keeps its separator.
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    return LongPathForm(full);
}

// A source file opened for streaming, with what the transfer reports about it.
struct CSource {
    CKernelHandle file; // only ever holds an open file
    uint64_t size = 0;
    FILETIME written = {};
};

void OpenSource(CSource& source, const std::wstring& path, const std::string& shown, long errorCode) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw CDeviceError(errorCode == SE_LOCAL_IO ? SE_LOCAL_IO : SE_NOT_FOUND,
                           "The file " + shown + " does not exist.");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw CDeviceError(SE_BAD_INPUT, shown + " is a directory, not a file.");
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw CDeviceError(errorCode, "Cannot open " + shown + ": " + SystemErrorText(GetLastError()));
    CKernelHandle file(handle);
    LARGE_INTEGER size;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileSizeEx(handle, &size) || !GetFileInformationByHandle(handle, &info))
        throw CDeviceError(errorCode, "Cannot read " + shown + ": " + SystemErrorText(GetLastError()));
    source.size = static_cast<uint64_t>(size.QuadPart);
    source.written = info.ftLastWriteTime;
    source.file = std::move(file);
}

// The destination written under a temporary name and renamed into place only when complete: a failed
// or cancelled transfer leaves the destination as it was. The temporary name is unique across the
// processes that may share a folder.
class CPartialFile {
public:
    CPartialFile(const std::wstring& directory, long requestId, long errorCode, const std::string& shown)
        : m_path(Join(directory, L"~dvx" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(requestId) + L".part")),
          m_errorCode(errorCode), m_shown(shown) {
        HANDLE handle = CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            throw CDeviceError(errorCode, "Cannot write " + shown + ": " + SystemErrorText(GetLastError()));
        m_file.Reset(handle);
    }
    ~CPartialFile() {
        m_file.Reset();
        if (!m_committed)
            DeleteFileW(m_path.c_str());
    }
    HANDLE Handle() const { return m_file.Get(); }

    void Commit(const std::wstring& finalPath, const FILETIME& written) {
        SetFileTime(m_file.Get(), nullptr, nullptr, &written);
        m_file.Reset();
        // The rename is tried first: looking at the destination beforehand costs a lookup per file.
        if (!MoveFileExW(m_path.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD error = GetLastError();
            const DWORD there = GetFileAttributesW(finalPath.c_str());
            if (there != INVALID_FILE_ATTRIBUTES && (there & FILE_ATTRIBUTE_DIRECTORY))
                throw CDeviceError(m_errorCode,
                                   "Cannot write " + m_shown + ": a directory of that name is in the way.");
            // A read-only copy is replaced like any other.
            if (there == INVALID_FILE_ATTRIBUTES || !(there & FILE_ATTRIBUTE_READONLY) ||
                !SetFileAttributesW(finalPath.c_str(), there & ~FILE_ATTRIBUTE_READONLY) ||
                !MoveFileExW(m_path.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING))
                throw CDeviceError(m_errorCode, "Cannot write " + m_shown + ": " + SystemErrorText(error));
        }
        m_committed = true;
    }

private:
    CKernelHandle m_file;
    std::wstring m_path;
    long m_errorCode;
    std::string m_shown;
    bool m_committed = false;
};

class CRequestRunner {
public:
    CRequestRunner(CRequest& request, IRequestReport& report, const void* session)
        : m_request(request), m_report(report), m_session(session), m_connection(*request.connection),
          m_cancel(*request.cancel) {}

    void Run();

private:
    void Send();
    void Receive();
    void Task(const char* title, const char* kind, const char* destination,
              const std::vector<std::string>& patterns);
    // Copies the source to `to`; `progress` gets the bytes done after every block.
    void Stream(CSource& from, HANDLE to, long readError, long writeError,
                const std::function<void(uint64_t)>& progress);
    void ReportFailure();
    // Opens the local file named by element [0] of the request and checks that the device can hold its
    // name; the name.
    std::string OpenLocalSource(CSource& from, std::string& source);
    // Where an upload of `name` into the remote directory goes: the directory is made if missing, and the
    // device must not be reserved by another session.
    CDeviceItem UploadDestination(const std::string& directory, const std::string& name);

    // Asks the host whether to replace an existing file: true only for an answer of yes.
    bool AskOverwrite(const std::string& prompt);
    // The transfer events of this request; the request id is the batch number.
    void BatchStart(const std::string& title, const std::string& source, const std::string& destination,
                    uint64_t size, bool upload, const std::string& name);
    void BatchFinish(bool fileDone);

    CRequest& m_request;
    IRequestReport& m_report;
    const void* m_session;
    CDeviceConnection& m_connection;
    CCancelToken& m_cancel;
    bool m_batchOpen = false;
    bool m_taskOpen = false;
};

void CRequestRunner::Run() {
    auto answer = std::make_unique<CParamBlock>();
    try {
        ThrowIfCancelled(m_cancel);
        if (m_connection.Lost())
            throw CDeviceError(SE_CONNECTION_LOST, CancelText(SE_CONNECTION_LOST));
        m_connection.AwaitAnswer(m_request.wait, &m_cancel);
        m_connection.CheckInjectedFailure(m_request.code);
        const ConnectionSettings& settings = m_connection.Settings();
        switch (m_request.code) {
        case REQ_SEND_FILE:
            Send();
            break;
        case REQ_RECEIVE_FILE:
            Receive();
            break;
        case REQ_UPDATE_FIRMWARE:
            Task("Update Firmware", "firmware", "\\SYS\\FIRMWARE\\", settings.firmwarePatterns);
            break;
        case REQ_LOAD_PROGRAM:
            Task("Load Program", "program", "\\USER\\PROGRAMS\\", {settings.programPattern});
            break;
        case REQ_LOAD_DISPLAY_LIST:
            Task("Load Display List", "display list", "\\USER\\DISPLAY\\", {settings.displayListPattern});
            break;
        default:
            m_connection.RunImmediate(m_request.code, m_request.input, *answer, m_session);
            break;
        }
        m_report.Complete(m_request, SE_OK, "", std::move(answer));
    } catch (const CDeviceError& error) {
        ReportFailure();
        if (error.Code() == SE_CONNECTION_LOST && !m_connection.Lost()) {
            m_connection.MarkLost();
            m_report.ConnectionLost(m_request.connection);
        }
        m_report.Complete(m_request, error.Code(), error.Text(), std::make_unique<CParamBlock>());
    } catch (const std::exception&) {
        ReportFailure();
        m_report.Complete(m_request, SE_DEVICE_IO, "The device ran out of resources.",
                          std::make_unique<CParamBlock>());
    }
}

void CRequestRunner::ReportFailure() {
    const long id = m_request.id;
    if (m_batchOpen)
        m_report.Report([id](CSessionEvents& events) {
            events.FileFinish(id, false);
            events.BatchFinish(id, false);
        });
    if (m_taskOpen)
        m_report.Report([id](CSessionEvents& events) { events.TaskComplete(id, false); });
    m_batchOpen = m_taskOpen = false;
}

void CRequestRunner::BatchStart(const std::string& title, const std::string& source,
                                const std::string& destination, uint64_t size, bool upload,
                                const std::string& name) {
    const long id = m_request.id;
    m_report.Report([=](CSessionEvents& events) {
        events.BatchStart(id, title, 1, ClampLong((size + 1023) / 1024));
        events.FileStart(id, source, destination, ClampLong(size), upload, name);
    });
    m_batchOpen = true;
}

void CRequestRunner::BatchFinish(bool fileDone) {
    const long id = m_request.id;
    m_report.Report([id, fileDone](CSessionEvents& events) {
        events.FileFinish(id, fileDone);
        events.BatchFinish(id, true);
    });
    m_batchOpen = false;
}

void CRequestRunner::Stream(CSource& from, HANDLE to, long readError, long writeError,
                            const std::function<void(uint64_t)>& progress) {
    const ConnectionSettings& settings = m_connection.Settings();
    const uint64_t throttle = settings.throttleBytesPerSecond;
    DWORD limit = kMaxBlockSize;
    if (throttle && throttle / 20 < limit)
        limit = static_cast<DWORD>(std::max<uint64_t>(throttle / 20, 512));
    DWORD block = std::min(kFirstBlockSize, limit);
    const bool drops = settings.drop && settings.dropRequest == m_request.code;
    std::vector<uint8_t> buffer(std::min<uint64_t>(limit, std::max<uint64_t>(from.size, 1)));
    const ULONGLONG start = GetTickCount64();
    uint64_t done = 0;
    for (;;) {
        ThrowIfCancelled(m_cancel);
        if (drops && done >= settings.dropAfterBytes)
            throw CDeviceError(SE_CONNECTION_LOST, CancelText(SE_CONNECTION_LOST));
        DWORD want = std::min<DWORD>(block, static_cast<DWORD>(buffer.size()));
        if (drops && settings.dropAfterBytes - done < want)
            want = static_cast<DWORD>(settings.dropAfterBytes - done);
        const ULONGLONG blockStart = GetTickCount64();
        DWORD got = 0;
        if (!ReadFile(from.file.Get(), buffer.data(), want, &got, nullptr))
            throw CDeviceError(readError, "Reading failed: " + SystemErrorText(GetLastError()));
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), got, &written, nullptr) || written != got)
            throw CDeviceError(writeError, "Writing failed: " + SystemErrorText(GetLastError()));
        done += got;
        progress(done);
        const ULONGLONG took = GetTickCount64() - blockStart;
        if (took < kQuickBlockMs && block < limit)
            block = std::min(block * 2, limit);
        else if (took > kSlowBlockMs && block > kMinBlockSize)
            block = std::max(block / 2, kMinBlockSize);
        if (throttle) {
            const ULONGLONG due = done * 1000 / throttle, elapsed = GetTickCount64() - start;
            if (due > elapsed && !m_cancel.Sleep(static_cast<uint32_t>(due - elapsed)))
                ThrowIfCancelled(m_cancel);
        }
    }
}

std::string CRequestRunner::OpenLocalSource(CSource& from, std::string& source) {
    source = m_request.input.At(0).GetText();
    OpenSource(from, LocalPath(source, "local file"), source, SE_LOCAL_IO);
    const std::string name(devicepath::FileNamePart(source));
    const std::string why = devicepath::CheckName(name);
    if (!why.empty())
        throw CDeviceError(SE_BAD_PATH, "The device cannot store \"" + name + "\": " + why);
    return name;
}

CDeviceItem CRequestRunner::UploadDestination(const std::string& directory, const std::string& name) {
    m_connection.CheckNotReservedByOther(m_session);
    const CDeviceFolder& folder = m_connection.Folder();
    const CDeviceItem destination = folder.Child(folder.EnsureDirectory(directory), name);
    if (destination.IsDirectory())
        throw CDeviceError(SE_EXISTS, destination.Remote() + " is a directory on the device.");
    return destination;
}

bool CRequestRunner::AskOverwrite(const std::string& prompt) {
    const bool overwrite = m_report.Ask(
        [prompt](CSessionEvents& events) {
            std::string answer;
            return events.HostQuery(1, prompt, answer) && EqualsIgnoreCase(answer, "yes");
        },
        m_request.cancel);
    ThrowIfCancelled(m_cancel);
    return overwrite;
}

void CRequestRunner::Send() {
    CSource from;
    std::string source;
    const std::string name = OpenLocalSource(from, source);
    const std::string target = m_request.input.At(1).GetText();
    const CDeviceItem destination = UploadDestination(target, name);

    const long id = m_request.id;
    const uint64_t size = from.size;
    BatchStart("Sending to the device", source, destination.Remote(), size, true, name);
    if (destination.Exists() &&
        !AskOverwrite("The file " + destination.Remote() + " already exists on the device. Overwrite it?")) {
        BatchFinish(false); // skipped as the user chose: the request itself succeeds
        return;
    }
    CPartialFile part(m_connection.Folder().StagingDirectory(), id, SE_DEVICE_IO, destination.Remote());
    Stream(from, part.Handle(), SE_LOCAL_IO, SE_DEVICE_IO, [&](uint64_t done) {
        m_report.Report(
            [=](CSessionEvents& events) { events.FileProgress(id, 0, 1, ClampLong(done), ClampLong(size)); });
    });
    part.Commit(destination.local, from.written);
    BatchFinish(true);
}

void CRequestRunner::Receive() {
    const std::string remote = m_request.input.At(0).GetText();
    const std::string localDirectory = m_request.input.At(1).GetText();
    const CDeviceItem item = m_connection.Folder().Resolve(remote);
    if (item.names.empty() || item.IsDirectory())
        throw CDeviceError(SE_BAD_INPUT, item.Remote() + " is a directory, not a file.");
    const std::wstring directory = LocalPath(localDirectory, "local directory");
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CDeviceError(SE_LOCAL_IO, "The local directory " + localDirectory + " does not exist.");
    CSource from;
    OpenSource(from, item.local, item.Remote(), SE_DEVICE_IO);

    const std::string& name = item.names.back();
    std::string shown = localDirectory;
    if (shown.back() != '\\' && shown.back() != '/')
        shown += '\\';
    shown += name;
    const std::wstring destination = Join(directory, WidePath(name, SE_LOCAL_IO));

    const long id = m_request.id;
    const uint64_t size = from.size;
    BatchStart("Receiving from the device", item.Remote(), shown, size, false, name);
    const DWORD there = GetFileAttributesW(destination.c_str());
    if (there != INVALID_FILE_ATTRIBUTES && !(there & FILE_ATTRIBUTE_DIRECTORY) &&
        !AskOverwrite("The file " + shown + " already exists. Overwrite it?")) {
        BatchFinish(false); // kept as the user chose: the request itself succeeds
        return;
    }
    CPartialFile part(directory, id, SE_LOCAL_IO, shown);
    Stream(from, part.Handle(), SE_DEVICE_IO, SE_LOCAL_IO, [&](uint64_t done) {
        m_report.Report(
            [=](CSessionEvents& events) { events.FileProgress(id, 0, 1, ClampLong(done), ClampLong(size)); });
    });
    part.Commit(destination, from.written);
    BatchFinish(true);
}

void CRequestRunner::Task(const char* title, const char* kind, const char* destinationDirectory,
                          const std::vector<std::string>& patterns) {
    CSource from;
    std::string source;
    const std::string name = OpenLocalSource(from, source);
    bool matches = false;
    std::string list;
    for (const std::string& pattern : patterns) {
        matches = matches || devicepath::MatchesPattern(name, pattern);
        list += (list.empty() ? "" : ", ") + pattern;
    }
    if (!matches)
        throw CDeviceError(SE_WRONG_FILE_KIND, name + " is not a " + kind + " file (" + list + ").");
    const CDeviceItem destination = UploadDestination(destinationDirectory, name);

    // A non-zero answer to a task event asks the device to stop the task. The device waits for the answers
    // to the start and to the last step, so nothing is written against the host's start answer and
    // nothing installed against its last one; answers to the steps between stop the task when they come.
    const long id = m_request.id;
    const std::shared_ptr<CCancelToken> cancel = m_request.cancel;
    const auto progress = [this, id, cancel](long percent, const std::string& text, long step) {
        m_report.Report([=](CSessionEvents& events) {
            if (events.TaskProgress(id, percent, text, step) != 0)
                cancel->Cancel(SE_CANCELLED);
        });
    };
    const auto goOn = [this, cancel](std::function<long(CSessionEvents&)> event) {
        if (!m_report.Ask([event](CSessionEvents& events) { return event(events) == 0; }, cancel))
            cancel->Cancel(SE_CANCELLED);
        ThrowIfCancelled(*cancel);
    };
    const std::string taskTitle = title;
    m_taskOpen = true;
    goOn([=](CSessionEvents& events) { return events.TaskStart(id, taskTitle, name); });
    progress(0, "Checking " + name, 1);

    CPartialFile part(m_connection.Folder().StagingDirectory(), id, SE_DEVICE_IO, destination.Remote());
    const uint64_t size = from.size;
    long lastPercent = -1;
    ULONGLONG lastTime = 0;
    const std::string transferring = "Transferring " + name;
    Stream(from, part.Handle(), SE_LOCAL_IO, SE_DEVICE_IO, [&](uint64_t done) {
        const long percent = size ? static_cast<long>(done * 95 / size) : 95;
        const ULONGLONG now = GetTickCount64();
        if (percent != lastPercent || now - lastTime >= kTaskProgressMs) {
            progress(percent, transferring, 2);
            lastPercent = percent;
            lastTime = now;
        }
    });
    const std::string installing = "Installing " + name;
    goOn([=](CSessionEvents& events) { return events.TaskProgress(id, 100, installing, 3); });
    part.Commit(destination.local, from.written);
    m_report.Report([id](CSessionEvents& events) { events.TaskComplete(id, true); });
    m_taskOpen = false;
}

} // namespace

void RunRequest(CRequest& request, IRequestReport& report, const void* session) {
    CRequestRunner runner(request, report, session);
    runner.Run();
}
