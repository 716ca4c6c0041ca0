// The main queue and timers on the GLib default main context (the one GTK runs).
#pragma once

#include "platform/main_queue.h"

namespace lorvane::gtk {

// Every closure runs at G_PRIORITY_DEFAULT, the priority of input and network events, so that
// posted work is neither starved by nor jumps ahead of the toolkit. Sources of equal priority are
// dispatched in the order they were attached, which gives post() its posting order.
class GLibMainQueue final : public MainQueue {
public:
    // Any thread: g_idle_add_full is safe to call from any thread and wakes the main context.
    void post(std::function<void()> work) override;
    // Main thread. Rounded to whole milliseconds; negative delays run as soon as possible.
    void postAfter(double seconds, std::function<void()> work) override;
    // Main thread. The returned timer removes its GLib source on invalidate(), so nothing of it is
    // left in the main context afterwards; dropping the handle alone keeps it ticking.
    std::shared_ptr<Timer> scheduleRepeating(double intervalSeconds, std::function<void()> tick) override;
};

}  // namespace lorvane::gtk
