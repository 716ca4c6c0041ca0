// GtkApplication glue: translating the menu to GActions and shortcuts, windows and alerts.
#include "platform/gtk/gtk_shell_application.h"

#include <cstring>
#include <optional>
#include <string>
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

void toggleMaximized(GtkWindow* window) {
    if (gtk_window_is_maximized(window)) {
        gtk_window_unmaximize(window);
    } else {
        gtk_window_maximize(window);
    }
}

// Every menu action as this backend knows it: its GAction name; for the edit actions WebKit's
// editing command, and when the focused page lets it act (absent: always); for the window
// actions what they do to the front window. App commands go to the delegate.
struct ActionEntry {
    MenuAction action;
    const char* name;
    const char* editingCommand = nullptr;
    gboolean (*available)(WebKitEditorState*) = nullptr;
    void (*onWindow)(GtkWindow*) = nullptr;
};

// There is no hiding a whole app on Linux desktops; minimising its window comes closest.
const ActionEntry kActions[] = {
    {AppCommand::About, "about"},
    {AppCommand::CheckForUpdates, "check-for-updates"},
    {AppCommand::Quit, "quit"},
    {AppCommand::OpenVoiceNotes, "open-voice-notes"},
    {StandardAction::Hide, "hide", nullptr, nullptr, gtk_window_minimize},
    {StandardAction::Undo, "undo", WEBKIT_EDITING_COMMAND_UNDO, webkit_editor_state_is_undo_available},
    {StandardAction::Redo, "redo", WEBKIT_EDITING_COMMAND_REDO, webkit_editor_state_is_redo_available},
    {StandardAction::Cut, "cut", WEBKIT_EDITING_COMMAND_CUT, webkit_editor_state_is_cut_available},
    {StandardAction::Copy, "copy", WEBKIT_EDITING_COMMAND_COPY, webkit_editor_state_is_copy_available},
    {StandardAction::Paste, "paste", WEBKIT_EDITING_COMMAND_PASTE, webkit_editor_state_is_paste_available},
    {StandardAction::SelectAll, "select-all", WEBKIT_EDITING_COMMAND_SELECT_ALL},
    {StandardAction::Minimize, "minimize", nullptr, nullptr, gtk_window_minimize},
    {StandardAction::Zoom, "zoom", nullptr, nullptr, toggleMaximized},
};

const ActionEntry& entryFor(const MenuAction& action) {
    for (const ActionEntry& entry : kActions) {
        if (entry.action == action) return entry;
    }
    return kActions[0];  // not reached: the table names every action
}

// A variable as the process was started with it: GTK takes DESKTOP_STARTUP_ID out of the
// environment as soon as it is loaded, before main().
std::string startedWith(const char* name) {
    g_autofree gchar* block = nullptr;
    gsize length = 0;
    if (!g_file_get_contents("/proc/self/environ", &block, &length, nullptr)) return "";
    const std::string prefix = std::string(name) + "=";
    for (const gchar* entry = block; entry < block + length; entry += std::strlen(entry) + 1) {
        if (g_str_has_prefix(entry, prefix.c_str())) return entry + prefix.size();
    }
    return "";
}

// A second launch never opens the display, and GTK takes a launch's startup id from the display
// only, so without this the running app would raise its window with no token, which a Wayland
// compositor refuses. GTK reads no XDG_ACTIVATION_TOKEN at all; both names go to the running
// app, which presents its window with the token.
GApplicationClass* gtkApplicationClass = nullptr;

void addLaunchToken(GApplication* application, GVariantBuilder* platformData) {
    std::string token = startedWith("XDG_ACTIVATION_TOKEN");
    if (token.empty()) token = startedWith("DESKTOP_STARTUP_ID");
    if (token.empty() || !g_utf8_validate(token.c_str(), -1, nullptr)) {
        gtkApplicationClass->add_platform_data(application, platformData);
        return;
    }
    g_variant_builder_add(platformData, "{sv}", "activation-token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(platformData, "{sv}", "desktop-startup-id", g_variant_new_string(token.c_str()));
}

// The receiving side: the token an activation brought, kept for a launch that arrives while the
// app is quitting, which is honoured by starting the app afresh with it.
constexpr const char* kReceivedTokenKey = "lorvane-received-launch-token";

void keepReceivedToken(GApplication* application, GVariant* platformData) {
    const gchar* token = nullptr;
    g_variant_lookup(platformData, "activation-token", "&s", &token);
    g_object_set_data_full(G_OBJECT(application), kReceivedTokenKey, g_strdup(token ? token : ""), g_free);
    gtkApplicationClass->before_emit(application, platformData);
}

struct TokenForwardingApplication {
    GtkApplication parent;
};

struct TokenForwardingApplicationClass {
    GtkApplicationClass parent;
};

void initTokenForwardingClass(gpointer type, gpointer) {
    gtkApplicationClass = G_APPLICATION_CLASS(g_type_class_peek_parent(type));
    G_APPLICATION_CLASS(type)->add_platform_data = addLaunchToken;
    G_APPLICATION_CLASS(type)->before_emit = keepReceivedToken;
}

GType tokenForwardingApplicationType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_APPLICATION, "LorvaneTokenForwardingApplication", sizeof(TokenForwardingApplicationClass),
        initTokenForwardingClass, sizeof(TokenForwardingApplication), nullptr, static_cast<GTypeFlags>(0));
    return type;
}

WebKitEditorState* editorStateOf(GtkWebView& view) {
    return webkit_web_view_get_editor_state(WEBKIT_WEB_VIEW(view.widget()));
}

}  // namespace

GtkApplication* newTokenForwardingApplication(const char* applicationId) {
    return GTK_APPLICATION(g_object_new(tokenForwardingApplicationType(), "application-id", applicationId, "flags",
                                        G_APPLICATION_DEFAULT_FLAGS, nullptr));
}

std::string receivedLaunchToken(GtkApplication* application) {
    const auto* token = static_cast<const gchar*>(g_object_get_data(G_OBJECT(application), kReceivedTokenKey));
    return token ? token : "";
}

GtkShellApplication::GtkShellApplication(GtkApplication* application, WebViewEnvironment webViewEnvironment,
                                         std::function<void()> requestQuit)
    : application_(application),
      webViewEnvironment_(std::move(webViewEnvironment)),
      requestQuit_(std::move(requestQuit)),
      shortcuts_([this](const MenuItem& item) { perform(item); }) {}

GtkShellApplication::~GtkShellApplication() {
    for (const auto& entry : menuActions_) {
        GAction* action = g_action_map_lookup_action(G_ACTION_MAP(application_), entry.first.c_str());
        if (action) g_signal_handlers_disconnect_by_data(action, this);
    }
    for (const auto& weak : webViews_) {
        if (const auto view = weak.lock()) g_signal_handlers_disconnect_by_data(editorStateOf(*view), this);
    }
}

void GtkShellApplication::setMainMenu(const MenuBar& menuBar) {
    std::vector<MenuItem> shortcutItems;
    auto bar = GObjectPtr<GMenu>::adopt(g_menu_new());
    for (std::size_t index = 0; index < menuBar.menus.size(); ++index) {
        const Menu& menu = menuBar.menus[index];
        auto submenu = GObjectPtr<GMenu>::adopt(g_menu_new());
        auto section = GObjectPtr<GMenu>::adopt(g_menu_new());
        for (const MenuItem& item : menu.items) {
            if (item.isSeparator()) {
                if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0) {
                    g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
                    section = GObjectPtr<GMenu>::adopt(g_menu_new());
                }
                continue;
            }
            const std::string name = entryFor(*item.action).name;
            if (!menuActions_.contains(name)) {
                auto action = GObjectPtr<GSimpleAction>::adopt(g_simple_action_new(name.c_str(), nullptr));
                g_signal_connect(action.get(), "activate", G_CALLBACK(onAction), this);
                g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action.get()));
            }
            menuActions_[name] = item;
            const std::string detailed = "app." + name;
            auto entry = GObjectPtr<GMenuItem>::adopt(g_menu_item_new(item.title.c_str(), detailed.c_str()));
            // The shortcut's label only: an accelerator registered with GTK would act on the key
            // before the page has seen it.
            if (const auto accelerator = acceleratorFor(item)) {
                g_menu_item_set_attribute(entry.get(), "accel", "s", accelerator->c_str());
                shortcutItems.push_back(item);
            }
            g_menu_append_item(section.get(), entry.get());
        }
        if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0) {
            g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
        }
        g_menu_append_submenu(bar.get(), menuTitle(menu, index).c_str(), G_MENU_MODEL(submenu.get()));
    }
    gtk_application_set_menubar(application_, G_MENU_MODEL(bar.get()));
    shortcuts_.setItems(std::move(shortcutItems));
    updateEditingActions();
}

std::shared_ptr<WebView> GtkShellApplication::createWebView(const WebViewSpec& spec,
                                                            std::weak_ptr<WebViewUIDelegate> uiDelegate) {
    auto view = std::make_shared<GtkWebView>(spec, std::move(uiDelegate), webViewEnvironment_);
    webViews_.push_back(view);
    g_signal_connect(editorStateOf(*view), "changed", G_CALLBACK(onEditorStateChanged), this);
    updateEditingActions();
    return view;
}

std::shared_ptr<Window> GtkShellApplication::createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) {
    auto* view = dynamic_cast<GtkWebView*>(content.get());
    auto window = std::make_shared<GtkShellWindow>(application_, spec, view ? view->widget() : nullptr,
                                                   [this] { return onWindowCloseRequest(); });
    shortcuts_.attach(window->native());
    updateEditingActions();
    return window;
}

void GtkShellApplication::presentWindows() {
    if (GtkWindow* window = frontWindow()) gtk_window_present(window);
}

void GtkShellApplication::showAlert(const Alert& alert, std::function<void(AlertAnswer)> onAnswer) {
    alerts_.show(frontWindow(), alert, std::move(onAnswer));
}

void GtkShellApplication::openURL(const std::string& url) {
    // With the window as parent GTK launches the handler with the display's launch context, which
    // hands it a startup id (X11) or activation token (Wayland): without one the desktop may leave
    // the browser behind the app, as if it had opened by itself.
    gtk_show_uri_full(frontWindow(), url.c_str(), GDK_CURRENT_TIME, nullptr, nullptr, nullptr);
}

void GtkShellApplication::onAction(GSimpleAction* action, GVariant*, gpointer self) {
    auto* app = static_cast<GtkShellApplication*>(self);
    const auto found = app->menuActions_.find(g_action_get_name(G_ACTION(action)));
    if (found == app->menuActions_.end()) return;
    const MenuItem item = found->second;  // a copy: the action may replace the menu
    app->perform(item);
}

void GtkShellApplication::onEditorStateChanged(WebKitEditorState*, gpointer self) {
    static_cast<GtkShellApplication*>(self)->updateEditingActions();
}

// The menu follows the web view of the front window; without one, editing has nothing to act on.
void GtkShellApplication::updateEditingActions() {
    const auto view = focusedWebView();
    WebKitEditorState* state = view ? editorStateOf(*view) : nullptr;
    for (const auto& [name, item] : menuActions_) {
        const auto available = item.action ? entryFor(*item.action).available : nullptr;
        if (!available) continue;
        GAction* action = g_action_map_lookup_action(G_ACTION_MAP(application_), name.c_str());
        if (action) g_simple_action_set_enabled(G_SIMPLE_ACTION(action), state && available(state));
    }
}

void GtkShellApplication::perform(const MenuItem& item) {
    if (!item.action) return;
    if (const auto* command = std::get_if<AppCommand>(&*item.action)) {
        if (const auto delegate = delegate_.lock()) delegate->performCommand(*command);
        return;
    }
    const ActionEntry& entry = entryFor(*item.action);
    if (entry.editingCommand) {
        if (const auto view = focusedWebView()) view->executeEditingCommand(entry.editingCommand);
    } else if (GtkWindow* window = frontWindow(); window && entry.onWindow) {
        entry.onWindow(window);
    }
}

void GtkShellApplication::quit() { requestQuit_(); }

void GtkShellApplication::showAbout(const std::string& version) {
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
