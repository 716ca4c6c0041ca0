// Modal alerts run in a nested main loop, and the registry that lets quitting end those loops.
#pragma once

#include <gtk/gtk.h>

#include <vector>

#include "platform/application.h"

namespace lorvane::gtk {

// What runModalAlert answers when no button ended the alert.
inline constexpr int kAlertDismissed = 0;    // closed by the window's close button or Escape
inline constexpr int kAlertAborted = -1001;  // the app began to quit while the alert was up

// The nested loops of the alerts now showing, innermost last. Quitting ends them all, so that a
// quit request arriving while an alert waits (SIGTERM, say) is never held up by it.
class ModalLoops {
public:
    ModalLoops() = default;
    ModalLoops(const ModalLoops&) = delete;
    ModalLoops& operator=(const ModalLoops&) = delete;

    // Main thread. Ends every running alert with kAlertAborted; later alerts return at once.
    void abortAll();
    bool aborted() const { return aborted_; }

    // Main thread. Runs `loop` until it is quit; used by runAlert only.
    void run(GMainLoop* loop);

private:
    std::vector<GMainLoop*> loops_;
    bool aborted_ = false;
};

// Main thread. Shows `alert` as a modal dialog over `parent` (may be null) and waits in a nested
// main loop: 1000 for the first button, 1001 for the second and so on, kAlertDismissed when the
// dialog is closed otherwise, kAlertAborted when the app quits meanwhile. Timers, network
// completions and signals keep being served while it waits.
int runAlert(GtkWindow* parent, const Alert& alert, ModalLoops& loops);

}  // namespace lorvane::gtk
