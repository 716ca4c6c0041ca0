// GLib sources behind MainQueue: idles for posted work, timeouts for delays and repeating timers.
#include "platform/gtk/glib_main_queue.h"

#include <glib.h>

#include <algorithm>
#include <utility>

#include "platform/gtk/glib_time.h"
#include "platform/gtk/gobject_ptr.h"

namespace lorvane::gtk {

namespace {

using Closure = std::function<void()>;

// A one-shot closure owned by its GLib source and freed by the source's destroy notify.
gboolean runOnce(gpointer data) {
    (*static_cast<Closure*>(data))();
    return G_SOURCE_REMOVE;
}

// State shared by the timer handle and its GLib source; whichever lives longer frees it.
struct RepeatingState {
    std::function<void()> tick;
    guint sourceId = 0;
    bool valid = true;
};

class GLibTimer final : public Timer {
public:
    explicit GLibTimer(std::shared_ptr<RepeatingState> state) : state_(std::move(state)) {}

    void invalidate() override {
        if (!state_->valid) return;
        state_->valid = false;
        // Removing the source from inside its own tick is allowed; GLib frees the callback data
        // only once the tick has returned.
        if (state_->sourceId != 0) g_source_remove(std::exchange(state_->sourceId, 0u));
    }
    bool isValid() const override { return state_->valid; }

private:
    std::shared_ptr<RepeatingState> state_;
};

gboolean runTick(gpointer data) {
    // Hold the state for the whole tick: the tick may invalidate its own timer.
    const std::shared_ptr<RepeatingState> state = *static_cast<std::shared_ptr<RepeatingState>*>(data);
    if (!state->valid) return G_SOURCE_REMOVE;
    state->tick();
    if (state->valid) return G_SOURCE_CONTINUE;
    return G_SOURCE_REMOVE;
}

}  // namespace

void GLibMainQueue::post(std::function<void()> work) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, releaseToGLib(std::make_unique<Closure>(std::move(work))),
                    destroyOwned<Closure>);
}

void GLibMainQueue::postAfter(double seconds, std::function<void()> work) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, millisecondsFor(seconds), runOnce,
                       releaseToGLib(std::make_unique<Closure>(std::move(work))), destroyOwned<Closure>);
}

std::shared_ptr<Timer> GLibMainQueue::scheduleRepeating(double intervalSeconds, std::function<void()> tick) {
    auto state = std::make_shared<RepeatingState>();
    state->tick = std::move(tick);
    // A zero interval would spin the main loop; one millisecond is the finest GLib timeout anyway.
    const guint interval = std::max(millisecondsFor(intervalSeconds), 1u);
    using SharedState = std::shared_ptr<RepeatingState>;
    state->sourceId = g_timeout_add_full(G_PRIORITY_DEFAULT, interval, runTick,
                                         releaseToGLib(std::make_unique<SharedState>(state)), destroyOwned<SharedState>);
    return std::make_shared<GLibTimer>(std::move(state));
}

}  // namespace lorvane::gtk
