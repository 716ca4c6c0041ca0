// The GLib main queue: posting order, the hop to the main thread, and timers that leave nothing behind.
#include <gtest/gtest.h>
#include <glib.h>

#include <string>
#include <thread>

#include "platform/gtk/glib_main_queue.h"

namespace lorvane::gtk {
namespace {

// Runs the default main context until `done` holds; a guard ends a hang.
template <class Predicate>
void runUntil(Predicate done) {
    const gint64 guard = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done() && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
    ASSERT_TRUE(done());
}

// True when the default context has nothing left to run, now or later: no idle, no timeout.
bool nothingScheduled() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    GMainContext* context = g_main_context_default();
    gint priority = 0;
    gint timeout = 0;
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
    runUntil([&] { return order.size() == 5; });
    EXPECT_EQ(order.substr(3), "dl");
    EXPECT_LT(order.find('a'), order.find('b'));
    EXPECT_TRUE(nothingScheduled()) << "one-shot work stays scheduled";
}

TEST(GLibMainQueue, AnInvalidatedTimerNeverTicksAgainAndLeavesNoSource) {
    GLibMainQueue queue;
    int ticks = 0;
    std::shared_ptr<Timer> timer = queue.scheduleRepeating(0.005, [&] {
        if (++ticks == 3) timer->invalidate();  // from inside its own tick
    });
    int outside = 0;
    auto other = queue.scheduleRepeating(0.005, [&] { ++outside; });
    runUntil([&] { return !timer->isValid() && outside >= 2; });
    other->invalidate();  // between ticks
    other->invalidate();  // twice is harmless
    const int atInvalidation = outside;
    EXPECT_TRUE(nothingScheduled());
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(outside, atInvalidation);
    EXPECT_FALSE(other->isValid());
}

}  // namespace
}  // namespace lorvane::gtk
