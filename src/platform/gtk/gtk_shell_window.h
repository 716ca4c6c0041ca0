// The main window behind the Window seam: a GtkApplicationWindow with the web view as its child.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "platform/gtk/gobject_ptr.h"
#include "platform/window.h"

namespace lorvane::gtk {

// Holds a strong reference to the window; the window itself lives until it is closed. Of the
// features GTK lets the app decide Closable and Resizable; whether a window can be minimised is
// the window manager's, and the content never reaches under GTK's title bar, whose dark variant
// matches the page instead (ContentUnderTitleBar).
class GtkShellWindow final : public Window {
public:
    // `content` fills the window and sets its minimum size; `onCloseRequest` is asked on the main
    // thread when the user closes the window and returns true to keep it open.
    GtkShellWindow(GtkApplication* application, const WindowSpec& spec, GtkWidget* content,
                   std::function<bool()> onCloseRequest);
    ~GtkShellWindow() override;
    GtkShellWindow(const GtkShellWindow&) = delete;
    GtkShellWindow& operator=(const GtkShellWindow&) = delete;

    // Placement belongs to the window manager on X11 and Wayland (GTK 4 has no call to position a
    // window; most managers centre a new one): presenting shows, raises and focuses it, once.
    void present() override;

    GtkWindow* native() const { return window_.get(); }

private:
    static gboolean handleCloseRequest(GtkWindow* window, gpointer self);

    GObjectPtr<GtkWindow> window_;
    std::function<bool()> onCloseRequest_;
};

}  // namespace lorvane::gtk
