// The main window: size, minimum size, title, menu bar and the close request.
#include "platform/gtk/gtk_shell_window.h"

#include <utility>

namespace lorvane::gtk {

GtkShellWindow::GtkShellWindow(GtkApplication* application, const WindowSpec& spec, GtkWidget* content,
                               std::function<bool()> onCloseRequest)
    : onCloseRequest_(std::move(onCloseRequest)) {
    window_ = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_application_window_new(application)));
    GtkWindow* window = window_.get();
    gtk_window_set_title(window, spec.title.c_str());
    // The default size is the content size; the menu bar adds its own height above it.
    gtk_window_set_default_size(window, spec.contentWidth, spec.contentHeight);
    gtk_window_set_resizable(window, (spec.styleMask & WindowStyle::Resizable) != 0 || spec.styleMask == 0);
    gtk_window_set_deletable(window, (spec.styleMask & WindowStyle::Closable) != 0 || spec.styleMask == 0);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), TRUE);
    if (content) {
        // GTK has no minimum window size; a size request on the child is what stops shrinking.
        gtk_widget_set_size_request(content, spec.minWidth > 0 ? spec.minWidth : -1,
                                    spec.minHeight > 0 ? spec.minHeight : -1);
        gtk_window_set_child(window, content);
    }
    g_signal_connect(window, "close-request", G_CALLBACK(handleCloseRequest), this);
}

GtkShellWindow::~GtkShellWindow() { g_signal_handlers_disconnect_by_data(window_.get(), this); }

void GtkShellWindow::center() {}

void GtkShellWindow::makeKeyAndOrderFront() { gtk_window_present(window_.get()); }

gboolean GtkShellWindow::handleCloseRequest(GtkWindow*, gpointer self) {
    auto* shellWindow = static_cast<GtkShellWindow*>(self);
    return shellWindow->onCloseRequest_ && shellWindow->onCloseRequest_() ? TRUE : FALSE;
}

}  // namespace lorvane::gtk
