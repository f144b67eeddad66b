#include "DeviceReservations.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace {

struct Holder {
    const void* owner;
    DWORD thread;
};

std::mutex g_lock;
std::condition_variable g_released;

std::map<std::wstring, Holder>& Holders() {
    static std::map<std::wstring, Holder> holders;
    return holders;
}

} // namespace

bool CDeviceReservations::Reserve(const std::wstring& device, const void* owner, long waitMs) {
    std::unique_lock<std::mutex> lock(g_lock);
    auto& holders = Holders();
    const auto freeOrMine = [&] {
        auto it = holders.find(device);
        if (it == holders.end() || it->second.owner == owner)
            return true;
        return false;
    };
    const auto heldOnThisThread = [&] {
        auto it = holders.find(device);
        return it != holders.end() && it->second.thread == GetCurrentThreadId();
    };
    if (!freeOrMine()) {
        if (heldOnThisThread() || waitMs == 0)
            return false;
        const auto ready = [&] { return freeOrMine() || heldOnThisThread(); };
        if (waitMs < 0)
            g_released.wait(lock, ready);
        else
            g_released.wait_for(lock, std::chrono::milliseconds(waitMs), ready);
        if (!freeOrMine())
            return false;
    }
    holders[device] = {owner, GetCurrentThreadId()};
    return true;
}

bool CDeviceReservations::Release(const std::wstring& device, const void* owner) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto it = Holders().find(device);
        if (it == Holders().end() || it->second.owner != owner)
            return false;
        Holders().erase(it);
    }
    g_released.notify_all();
    return true;
}

bool CDeviceReservations::HeldByOther(const std::wstring& device, const void* owner) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = Holders().find(device);
    return it != Holders().end() && it->second.owner != owner;
}
