// Alerts as dialogs modal to the app's window, answered through a callback: no nested main loop.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/application.h"

namespace lorvane::gtk {

// The alerts now open, each answered once. Everything here runs on the main thread.
class GtkAlerts {
public:
    GtkAlerts();
    GtkAlerts(const GtkAlerts&) = delete;
    GtkAlerts& operator=(const GtkAlerts&) = delete;
    // Alerts still open are closed without an answer: the app is past quitting by then.
    ~GtkAlerts();

    // Shows `alert` over `parent` (may be null) and returns at once. A button answers with its
    // place, closing the dialog (its close button, Escape) answers Dismissed; Return is the first
    // button. Once dismissAll() has run, nothing is shown and the answer is Dismissed, given on
    // the next turn of the main loop.
    void show(GtkWindow* parent, const Alert& alert, std::function<void(AlertAnswer)> onAnswer);
    // Answers every open alert Dismissed and closes it, so that quitting is never held up by one.
    void dismissAll();

private:
    struct Open;
    static void onButtonClicked(GtkButton* button, gpointer open);
    static gboolean onCloseRequest(GtkWindow* dialog, gpointer open);
    // Closes `open`'s dialog, forgets it, then calls its callback.
    void answer(Open* open, AlertAnswer given);

    std::vector<std::unique_ptr<Open>> open_;
    bool dismissed_ = false;
};

}  // namespace lorvane::gtk
