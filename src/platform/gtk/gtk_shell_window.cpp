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

// The look every window of the app shares, settled once, as the first window is built.
void settleWindowLook(const char* iconName) {
    static bool settled = false;
    if (settled) return;
    settled = true;
    GdkDisplay* display = gdk_display_get_default();
    // The icon is installed with the system's icons; a build tree has it in <bin>/../share/icons
    // instead, which the icon theme is told about so the app looks the same run from either.
    g_autofree gchar* executable = g_file_read_link("/proc/self/exe", nullptr);
    if (display && executable) {
        g_autofree gchar* binDirectory = g_path_get_dirname(executable);
        g_autofree gchar* icons = g_build_filename(binDirectory, "..", "share", "icons", nullptr);
        gtk_icon_theme_add_search_path(gtk_icon_theme_get_for_display(display), icons);
    }
    gtk_window_set_default_icon_name(iconName);
    // The pages are dark (#07111f): the menu bar, menus, alerts and About window are made dark to
    // match, unless the user chose GTK's theme themselves.
    if (GtkSettings* settings = gtk_settings_get_default(); settings && !g_getenv("GTK_THEME")) {
        g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
    }
}

}  // namespace

GtkShellWindow::GtkShellWindow(GtkApplication* application, const WindowSpec& spec, GtkWidget* content,
                               std::function<bool()> onCloseRequest)
    : onCloseRequest_(std::move(onCloseRequest)) {
    settleWindowLook(g_application_get_application_id(G_APPLICATION(application)));
    window_ = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_application_window_new(application)));
    GtkWindow* window = window_.get();
    gtk_window_set_title(window, spec.title.c_str());
    // The requested size is the content's; the menu bar comes on top of it. GTK keeps a new
    // window's default size within the work area of its monitor, and not below the content's size
    // request: on a smaller screen the window opens as large as fits, the menu bar included.
    gtk_window_set_default_size(window, spec.contentWidth, spec.contentHeight + menuBarHeight(application));
    // A spec without any feature keeps GTK's defaults (resizable, with a close button).
    const bool defaults = spec.features.empty();
    gtk_window_set_resizable(window, defaults || spec.features.has(WindowFeature::Resizable));
    gtk_window_set_deletable(window, defaults || spec.features.has(WindowFeature::Closable));
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

void GtkShellWindow::present() { gtk_window_present(window_.get()); }

gboolean GtkShellWindow::handleCloseRequest(GtkWindow*, gpointer self) {
    auto* shellWindow = static_cast<GtkShellWindow*>(self);
    return shellWindow->onCloseRequest_ && shellWindow->onCloseRequest_() ? TRUE : FALSE;
}

}  // namespace lorvane::gtk
