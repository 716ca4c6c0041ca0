// GtkApplication glue: translating the menu to GActions and accelerators, windows and alerts.
#include "platform/gtk/gtk_shell_application.h"

#include <utility>

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/gtk_shell_window.h"
#include "platform/gtk/menu_keys.h"

namespace lorvane::gtk {

namespace {

// The application menu is created without a title; desktops that show the menu bar need one, and
// the platform convention is the app's own name.
std::string menuTitle(const Menu& menu, std::size_t index) {
    if (!menu.title.empty() || index != 0) return menu.title;
    const char* name = g_get_application_name();
    return name ? name : "Lorvane";
}

// Standard edit actions map onto WebKit's editing commands. The accelerators for them take the
// keys before the page sees them, so Ctrl+C and Ctrl+V in a page's text field work through here.
const char* editingCommandFor(const std::string& action) {
    if (action == "undo:") return WEBKIT_EDITING_COMMAND_UNDO;
    if (action == "redo:") return WEBKIT_EDITING_COMMAND_REDO;
    if (action == "cut:") return WEBKIT_EDITING_COMMAND_CUT;
    if (action == "copy:") return WEBKIT_EDITING_COMMAND_COPY;
    if (action == "paste:") return WEBKIT_EDITING_COMMAND_PASTE;
    if (action == "selectAll:") return WEBKIT_EDITING_COMMAND_SELECT_ALL;
    return nullptr;
}

}  // namespace

GtkShellApplication::GtkShellApplication(GtkApplication* application, const Places& places,
                                         WebViewEnvironment webViewEnvironment, std::function<void()> requestQuit)
    : application_(application),
      places_(places),
      webViewEnvironment_(std::move(webViewEnvironment)),
      requestQuit_(std::move(requestQuit)) {}

GtkShellApplication::~GtkShellApplication() {
    for (const auto& entry : menuActions_) {
        GAction* action = g_action_map_lookup_action(G_ACTION_MAP(application_), entry.first.c_str());
        if (action) g_signal_handlers_disconnect_by_data(action, this);
    }
}

void GtkShellApplication::setActivationPolicyRegular() {}

void GtkShellApplication::setMainMenu(const MenuBar& menuBar) {
    auto bar = GObjectPtr<GMenu>::adopt(g_menu_new());
    for (std::size_t index = 0; index < menuBar.menus.size(); ++index) {
        const Menu& menu = menuBar.menus[index];
        auto submenu = GObjectPtr<GMenu>::adopt(g_menu_new());
        auto section = GObjectPtr<GMenu>::adopt(g_menu_new());
        for (const MenuItem& item : menu.items) {
            if (item.separator) {
                if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0) {
                    g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
                    section = GObjectPtr<GMenu>::adopt(g_menu_new());
                }
                continue;
            }
            const std::string name = actionNameFor(item);
            if (!menuActions_.contains(name)) {
                GSimpleAction* action = g_simple_action_new(name.c_str(), nullptr);
                g_signal_connect(action, "activate", G_CALLBACK(onAction), this);
                g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
                g_object_unref(action);
            }
            menuActions_[name] = item;
            const std::string detailed = "app." + name;
            g_menu_append(section.get(), item.title.c_str(), detailed.c_str());
            if (const auto accelerator = acceleratorFor(item)) {
                const char* accelerators[] = {accelerator->c_str(), nullptr};
                gtk_application_set_accels_for_action(application_, detailed.c_str(), accelerators);
            }
        }
        if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0) {
            g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
        }
        g_menu_append_submenu(bar.get(), menuTitle(menu, index).c_str(), G_MENU_MODEL(submenu.get()));
    }
    gtk_application_set_menubar(application_, G_MENU_MODEL(bar.get()));
}

std::shared_ptr<WebView> GtkShellApplication::createWebView(const WebViewSpec& spec,
                                                            std::weak_ptr<WebViewUIDelegate> uiDelegate) {
    auto view = std::make_shared<GtkWebView>(spec, std::move(uiDelegate), webViewEnvironment_);
    webViews_.push_back(view);
    return view;
}

std::shared_ptr<Window> GtkShellApplication::createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) {
    auto* view = dynamic_cast<GtkWebView*>(content.get());
    return std::make_shared<GtkShellWindow>(application_, spec, view ? view->widget() : nullptr,
                                            [this] { return onWindowCloseRequest(); });
}

void GtkShellApplication::activateIgnoringOtherApps() { presentWindows(); }

void GtkShellApplication::presentWindows() {
    if (GtkWindow* window = frontWindow()) gtk_window_present(window);
}

int GtkShellApplication::runModalAlert(const Alert& alert) { return runAlert(frontWindow(), alert, modalLoops_); }

void GtkShellApplication::openURL(const std::string& url) {
    g_app_info_launch_default_for_uri_async(url.c_str(), nullptr, nullptr, nullptr, nullptr);
}

void GtkShellApplication::onAction(GSimpleAction* action, GVariant*, gpointer self) {
    auto* app = static_cast<GtkShellApplication*>(self);
    const auto found = app->menuActions_.find(g_action_get_name(G_ACTION(action)));
    if (found == app->menuActions_.end()) return;
    const MenuItem item = found->second;  // a copy: the action may replace the menu
    app->perform(item);
}

void GtkShellApplication::perform(const MenuItem& item) {
    switch (item.target) {
        case MenuTarget::AppDelegate:
            if (const auto delegate = delegate_.lock()) delegate->performMenuAction(item.action);
            return;
        case MenuTarget::FirstResponder:
            performStandardAction(item.action);
            return;
    }
}

void GtkShellApplication::performStandardAction(const std::string& action) {
    if (const char* command = editingCommandFor(action)) {
        if (const auto view = focusedWebView()) view->executeEditingCommand(command);
    } else if (action == "terminate:") {
        requestQuit_();
    } else if (action == "hide:" || action == "performMiniaturize:") {
        // There is no hiding a whole app on Linux desktops; minimising its window comes closest.
        if (GtkWindow* window = frontWindow()) gtk_window_minimize(window);
    } else if (action == "performZoom:") {
        if (GtkWindow* window = frontWindow()) {
            if (gtk_window_is_maximized(window)) {
                gtk_window_unmaximize(window);
            } else {
                gtk_window_maximize(window);
            }
        }
    } else if (action == "orderFrontStandardAboutPanel:") {
        showAbout();
    }
}

void GtkShellApplication::showAbout() {
    const std::string version = places_.installedVersion().value_or("0.0.0");
    gtk_show_about_dialog(frontWindow(), "program-name", "Lorvane", "version", version.c_str(), "logo-icon-name",
                          kApplicationId, nullptr);
}

bool GtkShellApplication::onWindowCloseRequest() {
    // The app has one window, so a closing window is the last one.
    const auto delegate = delegate_.lock();
    if (delegate && delegate->applicationShouldTerminateAfterLastWindowClosed()) requestQuit_();
    return false;  // the window closes in every case
}

GtkWindow* GtkShellApplication::frontWindow() const {
    if (GtkWindow* active = gtk_application_get_active_window(application_)) {
        if (GTK_IS_APPLICATION_WINDOW(active)) return active;
    }
    // The list is ordered by most recent focus; the about dialog is not an application window.
    for (GList* item = gtk_application_get_windows(application_); item; item = item->next) {
        if (GTK_IS_APPLICATION_WINDOW(item->data)) return GTK_WINDOW(item->data);
    }
    return nullptr;
}

std::shared_ptr<GtkWebView> GtkShellApplication::focusedWebView() const {
    GtkWindow* window = frontWindow();
    std::shared_ptr<GtkWebView> fallback;
    for (const auto& weak : webViews_) {
        auto view = weak.lock();
        if (!view) continue;
        if (window && static_cast<void*>(gtk_widget_get_root(view->widget())) == static_cast<void*>(window)) return view;
        if (!fallback) fallback = view;
    }
    return fallback;
}

}  // namespace lorvane::gtk
