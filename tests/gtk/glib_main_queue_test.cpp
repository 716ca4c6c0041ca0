// The GLib main queue: posting order, the hop to the main thread, and timers that leave nothing behind.
#include <gtest/gtest.h>
#include <glib.h>

#include <string>
#include <thread>

#include "platform/gtk/glib_main_queue.h"

namespace lorvane::gtk {
namespace {

// Runs the default main context until `done` holds, then what is ready; a guard ends a hang.
// True when nothing is left to run, now or later: no idle, no timeout.
template <class Predicate>
bool runUntilThenNothingScheduled(Predicate done) {
    const gint64 guard = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done() && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
    EXPECT_TRUE(done());
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    GMainContext* context = g_main_context_default();
    gint priority = 0, timeout = 0;
    GPollFD fds[8];
    g_main_context_acquire(context);
    g_main_context_prepare(context, &priority);
    g_main_context_check(context, priority, fds, g_main_context_query(context, priority, &timeout, fds, 8));
    g_main_context_release(context);
    return timeout == -1;
}

TEST(GLibMainQueue, WorkRunsLaterOnTheMainThreadInPostingThenDeadlineOrder) {
    GLibMainQueue queue;
    const auto mainThread = std::this_thread::get_id();
    std::string order;
    queue.postAfter(0.06, [&] { order += 'l'; });
    queue.postAfter(0.02, [&] { order += 'd'; });
    queue.postAfter(-1, [&] { order += 'n'; });
    queue.post([&] { order += 'a'; });
    std::thread([&] { queue.post([&] { order += std::this_thread::get_id() == mainThread ? 'b' : 'X'; }); }).join();
    EXPECT_EQ(order, "") << "nothing may run before post() returns";
    EXPECT_TRUE(runUntilThenNothingScheduled([&] { return order.size() == 5; })) << "one-shot work stays scheduled";
    EXPECT_EQ(order.substr(3), "dl");
    EXPECT_LT(order.find('a'), order.find('b'));
}

TEST(GLibMainQueue, AnInvalidatedTimerNeverTicksAgainAndLeavesNoSource) {
    GLibMainQueue queue;
    int ticks = 0, outside = 0, atInvalidation = -1;
    std::shared_ptr<Timer> timer = queue.scheduleRepeating(0.005, [&] {
        if (++ticks == 3) timer->invalidate();  // from inside its own tick
    });
    std::shared_ptr<Timer> other = queue.scheduleRepeating(0.005, [&] {
        if (++outside != 2) return;
        queue.post([&] {  // between ticks
            other->invalidate();
            atInvalidation = outside;
        });
    });
    EXPECT_TRUE(runUntilThenNothingScheduled([&] { return !timer->isValid() && !other->isValid(); }));
    other->invalidate();  // twice is harmless
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(outside, atInvalidation);
}

}  // namespace
}  // namespace lorvane::gtk
