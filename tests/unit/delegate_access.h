// Test-only access to the delegate's state record and internal operations: the one way in.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/app_delegate.h"
#include "fake_platform.h"

namespace lorvane {

class AppDelegateTestAccess {
public:
    static AppDelegate::State& state(AppDelegate& d) { return d.state_; }
    static std::optional<std::string> backendLauncherPath(const AppDelegate& d) { return d.backendLauncherPath(); }
    static void checkForUpdates(AppDelegate& d, UpdateCheckTrigger trigger) { d.checkForUpdates(trigger); }
};

inline UpdateEndpoints testUpdateEndpoints() {
    return {"https://updates.example.test/releases/latest.json", "https://updates.example.test/#downloads"};
}

// A delegate on its own fake platform, as main() makes it; `launch()` runs the launch sequence with
// the log cleared of it, so a test sees only what follows.
struct FakeApp {
    AppDelegate& launch() {
        delegate->applicationDidFinishLaunching();
        fake.events.clear();
        return *delegate;
    }
    AppDelegate::State& state() { return AppDelegateTestAccess::state(*delegate); }
    fake::FakePlatform fake;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
};

}  // namespace lorvane
