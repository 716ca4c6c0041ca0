// The Application seam on GtkApplication: menu bar, web view and window factory, alerts, URLs.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/gtk/gtk_alert.h"
#include "platform/gtk/gtk_menu_shortcuts.h"
#include "platform/gtk/gtk_web_view.h"

namespace lorvane::gtk {

// The application id: the D-Bus name that makes the app single-instance, and the icon's name.
inline constexpr const char* kApplicationId = "app.lorvane.Lorvane";

// A GtkApplication whose second launch hands the running one the activation token it was started
// with (XDG_ACTIVATION_TOKEN from a Wayland launcher, DESKTOP_STARTUP_ID on X11), so that the
// window it raises may take the focus. The caller owns the reference.
GtkApplication* newTokenForwardingApplication(const char* applicationId);

// Main thread, while "activate" is emitted: the activation token (or X11 startup id) that the launch
// being handled brought, or "" when it brought none. For an application made by the function above.
std::string receivedLaunchToken(GtkApplication* application);

// Everything here runs on the main thread. The GtkApplication is owned by the desktop; this
// object only borrows it. `requestQuit` is the desktop's one way to end the app; every quit path
// of the UI (menu, Ctrl+Q, closing the last window) goes through it.
class GtkShellApplication final : public Application {
public:
    GtkShellApplication(GtkApplication* application, WebViewEnvironment webViewEnvironment,
                        std::function<void()> requestQuit);
    ~GtkShellApplication() override;
    GtkShellApplication(const GtkShellApplication&) = delete;
    GtkShellApplication& operator=(const GtkShellApplication&) = delete;

    // The delegate that receives the app's own menu commands and is asked about closing windows.
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
    // Answers every open alert Dismissed and shows no more; used when quitting.
    void dismissAlerts() { alerts_.dismissAll(); }
    // Brings the app's window to the front (a second launch lands here).
    void presentWindows();

    // A GMenu menu bar shown in each window. Separators start a new section; the window menu gets
    // no window list, which GTK does not offer. Items show their shortcuts, which the main window
    // handles itself once the page has let a key through (GtkMenuShortcuts), not as GTK
    // accelerators, which would take the keys before the page. Undo, redo, cut, copy and paste
    // are greyed out while the focused web view says they cannot act.
    void setMainMenu(const MenuBar& menuBar) override;
    std::shared_ptr<WebView> createWebView(const WebViewSpec& spec, std::weak_ptr<WebViewUIDelegate> uiDelegate) override;
    std::shared_ptr<Window> createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) override;
    // The window's present() has brought the app forward already: GTK raises it once.
    void activate() override {}
    // A dialog modal to the front window; see GtkAlerts.
    void showAlert(const Alert& alert, std::function<void(AlertAnswer)> onAnswer) override;
    // Asynchronous through GIO's default handler for the scheme, launched from the front window so
    // that it may come to the front itself; the outcome is not reported.
    void openURL(const std::string& url) override;
    // GTK's about dialog, modal to the front window.
    void showAbout(const std::string& version) override;
    void quit() override;

private:
    static void onAction(GSimpleAction* action, GVariant* parameter, gpointer self);
    static void onEditorStateChanged(WebKitEditorState* state, gpointer self);
    void perform(const MenuItem& item);
    void updateEditingActions();
    bool onWindowCloseRequest();
    GtkWindow* frontWindow() const;
    std::shared_ptr<GtkWebView> focusedWebView() const;

    GtkApplication* application_;
    WebViewEnvironment webViewEnvironment_;
    std::function<void()> requestQuit_;
    std::weak_ptr<ApplicationDelegate> delegate_;
    std::map<std::string, MenuItem> menuActions_;  // by GAction name
    std::vector<std::weak_ptr<GtkWebView>> webViews_;
    GtkAlerts alerts_;
    GtkMenuShortcuts shortcuts_;
};

}  // namespace lorvane::gtk
