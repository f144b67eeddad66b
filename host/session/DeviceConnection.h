// One connection to a device: its settings from the connection text, its folder, the state the device
// keeps per connection (current directory, fault counters) and the requests that answer at once.
// Shared by the session (creating thread) and its worker; everything mutable is locked or atomic.
#pragma once

#include "ConnectionText.h"
#include "DeviceFolder.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class CCancelToken;
class CParamBlock;

class CDeviceConnection {
public:
    CDeviceConnection(ConnectionSettings settings, const std::wstring& folder);

    const ConnectionSettings& Settings() const { return m_settings; }
    const CDeviceFolder& Folder() const { return m_folder; }
    // Who else is using this device: the key of the reservations.
    const std::wstring& DeviceKey() const { return m_key; }

    // The device takes its (injected) latency to answer. A wait (ms, > 0) shorter than that ends in
    // SE_TIMEOUT after the wait; a cancel ends it at once with the cancel's reason.
    void AwaitAnswer(long wait, CCancelToken* cancel) const;
    // SE_INJECTED_FAILURE when the fault options make this request fail now.
    void CheckInjectedFailure(long request);
    // SE_BUSY when another session holds the device's reservation.
    void CheckNotReservedByOther(const void* session) const;

    // Requests that are answered at once, without transfer or task events.
    static bool IsImmediate(long request);
    static bool IsKnown(long request);
    // SE_BAD_INPUT unless the block holds exactly the elements the request takes, of their kinds: every
    // request is checked so before it runs.
    static void CheckInput(long request, CParamBlock& input);
    void RunImmediate(long request, CParamBlock& input, CParamBlock& answer, const void* session);

    void MarkLost() { m_lost = true; }
    bool Lost() const { return m_lost; }

private:
    ConnectionSettings m_settings;
    CDeviceFolder m_folder;
    std::wstring m_key;
    std::atomic<bool> m_lost{false};
    std::mutex m_lock;
    std::string m_currentDirectory = "\\";
    std::vector<uint32_t> m_successes; // per fault rule
};

std::string RequestName(long request);
