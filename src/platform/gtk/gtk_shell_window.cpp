// The main window: size, minimum size, title, menu bar and the close request.
#include "platform/gtk/gtk_shell_window.h"

#include <utility>

namespace lorvane::gtk {

namespace {

// Height of the menu bar that the window shows above its content, so that the content area itself
// gets the requested size. Measured on a stand-in bar built from the same menu model.
int menuBarHeight(GtkApplication* application) {
    GMenuModel* model = gtk_application_get_menubar(application);
    if (!model) return 0;
    auto bar = GObjectPtr<GtkWidget>::retain(gtk_popover_menu_bar_new_from_model(model));
    int natural = 0;
    gtk_widget_measure(bar.get(), GTK_ORIENTATION_VERTICAL, -1, nullptr, &natural, nullptr, nullptr);
    return natural;
}

}  // namespace

GtkShellWindow::GtkShellWindow(GtkApplication* application, const WindowSpec& spec, GtkWidget* content,
                               std::function<bool()> onCloseRequest)
    : onCloseRequest_(std::move(onCloseRequest)) {
    window_ = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_application_window_new(application)));
    GtkWindow* window = window_.get();
    gtk_window_set_title(window, spec.title.c_str());
    // The requested size is the content's; the menu bar comes on top of it. GTK keeps a new
    // window's default size within the work area of its monitor, and not below the content's size
    // request: on a smaller screen the window opens as large as fits, the menu bar included.
    gtk_window_set_default_size(window, spec.contentWidth, spec.contentHeight + menuBarHeight(application));
    // A spec without any style keeps GTK's defaults (resizable, with a close button).
    const bool defaults = spec.style.empty();
    gtk_window_set_resizable(window, defaults || spec.style.has(WindowStyle::Resizable));
    gtk_window_set_deletable(window, defaults || spec.style.has(WindowStyle::Closable));
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
