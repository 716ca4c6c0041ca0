// The application object: menu bar, windows, activation, modal alerts and opening URLs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/menu.h"
#include "platform/web_view.h"
#include "platform/window.h"

namespace lorvane {

struct Alert {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;  // in order; the first answers 1000, the second 1001, ...
};

inline constexpr int kAlertFirstButtonReturn = 1000;

// Implemented by the app; the application object calls it on the main thread.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // Once, when the application has finished launching.
    virtual void applicationDidFinishLaunching() = 0;
    // When the last window has closed; true ends the application.
    virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
    // Once, just before the process ends, whatever the path that ended it.
    virtual void applicationWillTerminate() = 0;
    // A menu item whose target is the app delegate was chosen; `action` is its selector name.
    virtual void performMenuAction(const std::string& action) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    // Main thread. Makes the process an ordinary foreground app.
    virtual void setActivationPolicyRegular() = 0;
    // Main thread. Installs the menu bar; items aimed at the app delegate call performMenuAction.
    virtual void setMainMenu(const MenuBar& menuBar) = 0;
    // Main thread. Creates the web view; `uiDelegate` is held weakly and asked about media capture.
    virtual std::shared_ptr<WebView> createWebView(const WebViewSpec& spec,
                                                   std::weak_ptr<WebViewUIDelegate> uiDelegate) = 0;
    // Main thread. Creates the window, not yet shown, with `content` filling it.
    virtual std::shared_ptr<Window> createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) = 0;
    // Main thread. Brings the app to the front even if another app is active.
    virtual void activateIgnoringOtherApps() = 0;
    // Main thread. Shows an application-modal alert and returns when it is dismissed: 1000 for the
    // first button, 1001 for the second, and so on (other values for other ways of closing it).
    virtual int runModalAlert(const Alert& alert) = 0;
    // Main thread. Hands `url` to the system's default handler; the outcome is not reported.
    virtual void openURL(const std::string& url) = 0;
};

}  // namespace lorvane
