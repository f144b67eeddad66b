// Reservation of a device, shared by every session of the process: one holder per device folder.
#pragma once

#include <string>

class CDeviceReservations {
public:
    // True when `owner` holds the device afterwards (holding it already counts). Waits up to waitMs
    // (negative: without limit) for another holder to let go, except for a holder on this thread,
    // which cannot let go while this thread waits.
    static bool Reserve(const std::wstring& device, const void* owner, long waitMs);
    // False when `owner` did not hold the device.
    static bool Release(const std::wstring& device, const void* owner);
    static bool HeldByOther(const std::wstring& device, const void* owner);
};
