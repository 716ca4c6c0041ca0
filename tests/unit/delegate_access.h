// Test-only access to the delegate's state record and internal operations: the one way in.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/app_delegate.h"

namespace lorvane {

class AppDelegateTestAccess {
public:
    static AppDelegate::State& state(AppDelegate& d) { return d.state_; }
    static std::string serverLogPath(const AppDelegate& d) { return d.serverLogPath(); }
    static std::string voiceLogPath(const AppDelegate& d) { return d.voiceLogPath(); }
    static void startBundledServer(AppDelegate& d) { d.startBundledServer(); }
    static void startBundledVoiceWorker(AppDelegate& d) { d.startBundledVoiceWorker(); }
    static std::optional<std::string> backendLauncherPath(const AppDelegate& d) { return d.backendLauncherPath(); }
    static void startLocalBackendIfAvailable(AppDelegate& d) { d.startLocalBackendIfAvailable(); }
    static void showLaunchError(AppDelegate& d) { d.showLaunchError(); }
    static void checkForUpdates(AppDelegate& d, UpdateCheckTrigger trigger) { d.checkForUpdates(trigger); }
};

inline UpdateEndpoints testUpdateEndpoints() {
    return {"https://updates.example.test/releases/latest.json", "https://updates.example.test/#downloads"};
}

}  // namespace lorvane
