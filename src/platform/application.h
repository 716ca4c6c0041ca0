// The application object: menu bar, windows, activation, alerts and opening URLs.
#pragma once

#include <functional>
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
    // In order, at most three (the first is the default one); none gives a single "OK".
    std::vector<std::string> buttons;
};

// How an alert ended.
enum class AlertAnswer {
    FirstButton,
    SecondButton,
    ThirdButton,
    Dismissed,  // closed without a button: the window's close button, Escape, or the app quitting
};

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
    // A menu item (or its shortcut) with one of the app's own commands was chosen.
    virtual void performCommand(AppCommand command) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    // Main thread. Installs the menu bar; its app commands go to the delegate's performCommand,
    // its standard actions are the backend's own.
    virtual void setMainMenu(const MenuBar& menuBar) = 0;
    // Main thread. Creates the web view; `uiDelegate` is held weakly and asked about media capture.
    virtual std::shared_ptr<WebView> createWebView(const WebViewSpec& spec,
                                                   std::weak_ptr<WebViewUIDelegate> uiDelegate) = 0;
    // Main thread. Creates the window, not yet shown, with `content` filling it.
    virtual std::shared_ptr<Window> createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) = 0;
    // Main thread. Makes the app the active one, even if another app is. Where presenting a window
    // already does that (GTK), there is nothing more to do.
    virtual void activate() = 0;
    // Main thread. Shows `alert` modal to the app's window and returns at once; the main loop runs
    // on meanwhile. `onAnswer` runs once, on the main thread, after this has returned. Quitting
    // answers every open alert Dismissed, and an alert asked for once quitting has begun is not
    // shown and answers Dismissed. The application object owns `onAnswer` until then.
    virtual void showAlert(const Alert& alert, std::function<void(AlertAnswer)> onAnswer) = 0;
    // Main thread. Hands `url` to the system's default handler; the outcome is not reported.
    virtual void openURL(const std::string& url) = 0;
    // Main thread. Shows the standard about window: the app's name and icon, and `version`.
    virtual void showAbout(const std::string& version) = 0;
    // Main thread. Starts the platform's quit path, which ends in applicationWillTerminate.
    virtual void quit() = 0;
};

}  // namespace lorvane
