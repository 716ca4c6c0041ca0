// A delegate whose processes and files are real, in a private temporary tree; the rest is fake.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "../unit/delegate_access.h"
#include "fake_platform.h"
#include "platform/posix/posix_platform.h"

namespace lorvane::testing {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const fs::path& path, const std::string& text, bool executable = false) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), executable ? 0755 : 0644);
}

// Polls the outside world (a real process, a real file) until `condition` holds or time runs out.
inline bool eventually(const std::function<bool()>& condition, double seconds = 5.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// Stands in for runtime/node: records its arguments, folder and environment, writes one line to
// each stream, and notes SIGTERM before leaving.
inline const char* kRecordingRuntime = R"SH(#!/bin/sh
case "$1" in */voice-worker/*) name=worker ;; *) name=server ;; esac
out="$LORVANE_TEST_RECORDS/$name"
trap 'echo term >> "$out.signals"; exit 0' TERM
{ echo "argc=$#"; for a in "$@"; do echo "arg=$a"; done; echo "cwd=$(pwd -P)"; } > "$out.args.tmp"
tr '\0' '\n' < /proc/$$/environ > "$out.env"
mv "$out.args.tmp" "$out.args"
echo "$name stdout"
echo "$name stderr" >&2
while :; do sleep 0.05; done
)SH";

class RealServices {
public:
    RealServices() {
        char pattern[] = "/tmp/lorvane-services-XXXXXX";
        root = fs::path(::mkdtemp(pattern));
        resources = root / "bundle/share/lorvane";
        records = root / "records";
        fs::create_directories(records);
        fake.places.resources = resources.string();
        fake.places.logs = (root / "state").string();
        fake.places.support = (root / "data").string();
        fake.places.homeFolder = (root / "home").string();
        fake.environment.variables = {{"PATH", "/usr/bin:/bin"}, {"LORVANE_TEST_RECORDS", records.string()}};
    }
    ~RealServices() {
        if (delegate) delegate->applicationWillTerminate();
        for (auto& child : started) {
            if (child && child->isRunning()) ::kill(child->pid(), SIGKILL);
        }
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    void installBundle(bool server = true, bool worker = true) {
        writeFile(resources / "runtime/node", kRecordingRuntime, true);
        if (server) writeFile(resources / "server/server.mjs", "// server\n");
        if (worker) writeFile(resources / "voice-worker/src/server.mjs", "// worker\n");
    }

    AppDelegate& makeDelegate() {
        delegate = std::make_shared<AppDelegate>(platform, testUpdateEndpoints());
        return *delegate;
    }
    AppDelegate::State& state() { return AppDelegateTestAccess::state(*delegate); }
    void remember(const std::shared_ptr<ChildProcess>& child) { started.push_back(child); }

    fs::path serverLog() const { return root / "state/Lorvane/server.log"; }
    fs::path workerLog() const { return root / "state/Lorvane/voice-worker.log"; }
    bool errorPageShown() const {
        for (const auto& load : fake.application.webView ? fake.application.webView->loads
                                                         : std::vector<fake::FakeWebView::Load>{}) {
            if (load.isHtml && load.html.find("Не удалось запустить") != std::string::npos) return true;
        }
        return false;
    }
    void giveWebView() { state().webView = fake.application.createWebView({}, {}); }

    fake::FakePlatform fake;
    LinuxProcessLauncher launcher;
    PosixFileSystem files;
    Platform platform{fake.queue, fake.clock, fake.http, launcher, files, fake.places, fake.environment, fake.application};
    std::shared_ptr<AppDelegate> delegate;
    std::vector<std::shared_ptr<ChildProcess>> started;
    fs::path root, resources, records;
};

}  // namespace lorvane::testing
