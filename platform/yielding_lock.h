// A small lock for state that a render thread and a dialog thread share.
// Taking it when nobody holds it costs one atomic exchange, which keeps the
// per-frame path cheap; a waiter spins briefly, then yields, then sleeps,
// since the holder may be writing a frame to disk.
#pragma once

#include <atomic>

namespace platform {

void yieldThread(unsigned attempt);

class YieldingLock {
public:
    void lock()
    {
        for (unsigned attempt = 0; held_.exchange(true, std::memory_order_acquire); ++attempt) {
            while (held_.load(std::memory_order_relaxed))
                yieldThread(attempt++);
        }
    }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> held_ {false};
};

class LockGuard {
public:
    explicit LockGuard(YieldingLock& lock)
        : lock_(lock)
    {
        lock_.lock();
    }
    ~LockGuard() { lock_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    YieldingLock& lock_;
};

} // namespace platform
