// Stops a request from another thread: the worker polls it between blocks and sleeps on it, so a
// cancel takes effect within one block or at once during a wait.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class CCancelToken {
public:
    // The first reason (a session error code) stays.
    void Cancel(long reason) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            long none = 0;
            m_reason.compare_exchange_strong(none, reason);
        }
        m_signal.notify_all();
    }
    long Reason() const { return m_reason.load(); }
    bool Cancelled() const { return m_reason.load() != 0; }

    // False when cancelled before the time is up.
    bool Sleep(uint32_t ms) {
        std::unique_lock<std::mutex> lock(m_lock);
        return !m_signal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Cancelled(); });
    }
    // Waits until ready() holds (checked under the token's lock); false when cancelled first.
    template <class Ready> bool Wait(Ready ready) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_signal.wait(lock, [&] { return Cancelled() || ready(); });
        return !Cancelled() || ready();
    }
    // Changes what a waiter tests, under the token's lock, and wakes it.
    template <class Update> void Notify(Update update) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            update();
        }
        m_signal.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    std::atomic<long> m_reason{0};
};
