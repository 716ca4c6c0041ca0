// The main window behind the Window seam: a GtkApplicationWindow with the web view as its child.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "platform/gtk/gobject_ptr.h"
#include "platform/window.h"

namespace lorvane::gtk {

// Holds a strong reference to the window; the window itself lives until it is closed. Only the
// window-system-neutral parts of the style are applied: a title bar always exists on GTK, so the
// transparent-title-bar and full-size-content bits have no effect here.
class GtkShellWindow final : public Window {
public:
    // `content` fills the window and sets its minimum size; `onCloseRequest` is asked on the main
    // thread when the user closes the window and returns true to keep it open.
    GtkShellWindow(GtkApplication* application, const WindowSpec& spec, GtkWidget* content,
                   std::function<bool()> onCloseRequest);
    ~GtkShellWindow() override;
    GtkShellWindow(const GtkShellWindow&) = delete;
    GtkShellWindow& operator=(const GtkShellWindow&) = delete;

    // Placement belongs to the window manager on X11 and Wayland; GTK 4 has no call to position a
    // window, and managers put a new toplevel where they see fit (most centre it), so this is a no-op.
    void center() override;
    void makeKeyAndOrderFront() override;

    GtkWindow* native() const { return window_.get(); }

private:
    static gboolean handleCloseRequest(GtkWindow* window, gpointer self);

    GObjectPtr<GtkWindow> window_;
    std::function<bool()> onCloseRequest_;
};

}  // namespace lorvane::gtk
