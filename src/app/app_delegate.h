// The one application delegate: the whole state of the running shell and every operation on it.
// The operations are defined in the subsystem folders (app, services, readiness, web, update).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "update/update_outcome.h"

namespace lorvane {

// The update server's two fixed addresses, decided at build time.
struct UpdateEndpoints {
    std::string manifestURL;      // https://<host>/releases/latest.json
    std::string downloadPageURL;  // https://<host>/#downloads
};

class AppDelegate final : public ApplicationDelegate,
                          public WebViewUIDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
public:
    // The state record. The pointers and handles are assigned at most once per run and never cleared.
    struct State {
        std::int64_t appPort = 3001;
        std::int64_t voicePort = 6061;
        std::string updateManifestURL;
        std::string downloadPageURL;
        std::shared_ptr<Window> window;
        std::shared_ptr<WebView> webView;
        std::shared_ptr<ChildProcess> serverProcess;
        std::shared_ptr<ChildProcess> voiceProcess;
        std::shared_ptr<FileHandle> serverLogHandle;
        std::shared_ptr<FileHandle> voiceLogHandle;
        std::shared_ptr<Timer> readinessTimer;
        double readinessStartedAt = 0;
        bool readinessCheckInFlight = false;
        bool appLoaded = false;
    };

    // Touches nothing outside the object: no window, file, process or network.
    AppDelegate(Platform& platform, UpdateEndpoints endpoints);

    // ApplicationDelegate
    void applicationDidFinishLaunching() override;                     // app/launch_sequence.cpp
    bool applicationShouldTerminateAfterLastWindowClosed() override;   // app/shutdown.cpp
    void applicationWillTerminate() override;                          // app/shutdown.cpp
    void performCommand(AppCommand command) override;                  // app/main_menu.cpp

    // WebViewUIDelegate                                                  web/media_capture.cpp
    PermissionDecision onMediaCapturePermissionRequest(const std::string& host, MediaCaptureType type) override;

    // Menu and timer actions.
    void openVoiceNotes();            // web/voice_notes.cpp
    void checkForUpdatesFromMenu();   // update/update_check.cpp
    void checkServerReadiness();      // readiness/readiness.cpp

private:
    // The tests' one way in: the state record and the operations below (tests/unit/delegate_access.h).
    friend class AppDelegateTestAccess;

    // services/log_files.cpp
    std::string serverLogPath() const;
    std::string voiceLogPath() const;
    void openLog(const std::string& logPath, std::shared_ptr<FileHandle>& handleField);
    // services/server_process.cpp, services/voice_worker_process.cpp, services/backend_launcher.cpp
    void startBundledServer();
    void startBundledVoiceWorker();
    std::optional<std::string> backendLauncherPath() const;
    void startLocalBackendIfAvailable();
    // readiness/readiness.cpp, readiness/launch_error_page.cpp
    void onReadinessProbeOutcome(int status, const std::string& probeURL);
    void showLaunchError();
    // update/update_check.cpp
    void checkForUpdates(UpdateCheckTrigger trigger);

    Platform& platform_;
    State state_;
};

}  // namespace lorvane
