// Bringing the page back when WebKit's web process ends under it (a crash, the kernel's
// out-of-memory killer, a kill by hand): the budget of reloads and the page shown past it.
#pragma once

#include <glib.h>

#include <deque>

namespace lorvane::gtk {

// A page that keeps taking its web process down is not reloaded for ever: three reloads in any
// minute, then the stopped page, whose button starts a fresh budget.
class ReloadBudget {
public:
    static constexpr std::size_t kReloads = 3;
    static constexpr gint64 kWindowMicroseconds = 60 * G_USEC_PER_SEC;

    // Whether a reload at `now` (g_get_monotonic_time) is still within the budget; it is counted if so.
    bool take(gint64 now);
    void reset() { reloads_.clear(); }

private:
    std::deque<gint64> reloads_;
};

// The name of the script message the stopped page's button posts.
inline constexpr const char* kReloadMessageHandler = "lorvaneReload";

// The stopped page: in Russian, dark like the app's pages, its one button focused.
extern const char* const kStoppedPageHtml;

}  // namespace lorvane::gtk
