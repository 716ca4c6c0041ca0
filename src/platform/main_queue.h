// The main thread's queue: closures posted for later and repeating timers, all run on the main thread.
#pragma once

#include <functional>
#include <memory>

namespace lorvane {

// A repeating timer handed out by MainQueue::scheduleRepeating.
class Timer {
public:
    virtual ~Timer() = default;
    // Main thread only. After this the tick never runs again; calling it twice is harmless.
    virtual void invalidate() = 0;
    // True until invalidate() has been called.
    virtual bool isValid() const = 0;
};

class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Any thread. Runs `work` once on the main thread, after the caller returns, in posting order.
    virtual void post(std::function<void()> work) = 0;
    // Main thread only. Runs `work` once on the main thread when `seconds` have passed.
    virtual void postAfter(double seconds, std::function<void()> work) = 0;
    // Main thread only. Runs `tick` on the main thread every `intervalSeconds` until the returned
    // timer is invalidated. The queue keeps the tick alive until then; the caller owns the handle.
    virtual std::shared_ptr<Timer> scheduleRepeating(double intervalSeconds, std::function<void()> tick) = 0;
};

}  // namespace lorvane
