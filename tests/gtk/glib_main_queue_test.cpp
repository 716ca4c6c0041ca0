// The GLib main queue: posting order, the main-thread hop, and timers that leave nothing behind.
#include <gtest/gtest.h>
#include <glib.h>

#include <string>
#include <thread>

#include "platform/gtk/glib_main_queue.h"

namespace lorvane::gtk {
namespace {

// Runs the default main context until `done` holds (a guard ends a hang).
template <class Predicate>
void runUntil(Predicate done) {
    const gint64 guard = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done() && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
    ASSERT_TRUE(done());
}

// True when the default context has nothing left to run now or later: no idle, no timeout.
bool contextIsEmpty() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    GMainContext* context = g_main_context_default();
    if (!g_main_context_acquire(context)) return false;
    gint priority = 0;
    gint timeout = 0;
    g_main_context_prepare(context, &priority);
    GPollFD fds[8];
    const gint count = g_main_context_query(context, priority, &timeout, fds, 8);
    g_main_context_check(context, priority, fds, count);
    g_main_context_release(context);
    return timeout == -1;
}

TEST(GLibMainQueue, PostedWorkRunsLaterInPostingOrderFromAnyThread) {
    GLibMainQueue queue;
    std::string order;
    queue.post([&] { order += 'a'; });
    queue.post([&] { order += 'b'; });
    std::thread([&] { queue.post([&] { order += 'c'; }); }).join();
    EXPECT_EQ(order, "") << "post() must not run the work before it returns";
    const auto mainThread = std::this_thread::get_id();
    bool ranOnMain = false;
    queue.post([&] { ranOnMain = std::this_thread::get_id() == mainThread; });
    runUntil([&] { return order.size() == 3 && ranOnMain; });
    EXPECT_EQ(order, "abc");
}

TEST(GLibMainQueue, DelayedWorkRunsOnceInDeadlineOrder) {
    GLibMainQueue queue;
    std::string order;
    queue.postAfter(0.06, [&] { order += 'l'; });
    queue.postAfter(0.02, [&] { order += 'e'; });
    queue.postAfter(-1, [&] { order += 'n'; });
    runUntil([&] { return order.size() >= 3; });
    EXPECT_EQ(order.substr(0, 2), "ne");
    EXPECT_TRUE(contextIsEmpty()) << "one-shot work must not stay scheduled";
}

TEST(GLibMainQueue, InvalidatedTimersStopAndLeaveNoSourceBehind) {
    GLibMainQueue queue;
    int ticks = 0;
    std::shared_ptr<Timer> timer;
    timer = queue.scheduleRepeating(0.005, [&] {
        if (++ticks == 3) timer->invalidate();  // from inside its own tick
    });
    EXPECT_TRUE(timer->isValid());
    runUntil([&] { return !timer->isValid(); });
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(contextIsEmpty());
    EXPECT_EQ(ticks, 3);
    timer->invalidate();  // twice is harmless
    EXPECT_FALSE(timer->isValid());

    // Invalidated from outside, between ticks.
    int outside = 0;
    auto stopped = queue.scheduleRepeating(0.005, [&] { ++outside; });
    runUntil([&] { return outside >= 2; });
    stopped->invalidate();
    const int atInvalidation = outside;
    EXPECT_TRUE(contextIsEmpty());
    EXPECT_EQ(outside, atInvalidation) << "an invalidated timer ticked again";
}

}  // namespace
}  // namespace lorvane::gtk
