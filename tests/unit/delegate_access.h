// Test-only access to the delegate's state record and internal operations.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/app_delegate.h"

namespace lorvane {

class AppDelegateTestAccess {
public:
    static AppDelegate::State& state(AppDelegate& d) { return d.state_; }
    static std::string serverLogURL(const AppDelegate& d) { return d.serverLogURL(); }
    static std::string voiceLogURL(const AppDelegate& d) { return d.voiceLogURL(); }
    static void startBundledServer(AppDelegate& d) { d.startBundledServer(); }
    static void startBundledVoiceWorker(AppDelegate& d) { d.startBundledVoiceWorker(); }
    static std::optional<std::string> backendLauncherURL(const AppDelegate& d) { return d.backendLauncherURL(); }
    static void startLocalBackendIfAvailable(AppDelegate& d) { d.startLocalBackendIfAvailable(); }
    static void showLaunchError(AppDelegate& d) { d.showLaunchError(); }
    static void checkForUpdates(AppDelegate& d, bool showCurrentVersion) { d.checkForUpdates(showCurrentVersion); }
};

inline UpdateEndpoints testUpdateEndpoints() {
    return {"https://updates.example.test/releases/latest.json", "https://updates.example.test/#downloads"};
}

}  // namespace lorvane
