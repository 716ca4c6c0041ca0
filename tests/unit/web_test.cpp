// The web view's glue: the voice-notes command and the media-capture decision.
#include <gtest/gtest.h>

#include <tuple>

#include "delegate_access.h"

namespace lorvane {

// Before the web application is loaded the page knows nothing of a voice view: nothing happens.
TEST(VoiceNotes, RaisesTheWindowAndSwitchesTheViewOrReloadsOntoIt) {
    const std::string raise = "window.present", activate = "app.activate",
                      script = "webView.evaluateJavaScript";
    // Whether the web application is loaded, how the script ends, and what the command does.
    const std::tuple<bool, Result<void>, std::vector<std::string>> rows[] = {
        {false, {}, {}},
        {true, {}, {raise, activate, script}},
        {true, Failure{"SecurityError"},
         {raise, activate, script, "webView.loadRequest http://127.0.0.1:3001/?view=voice 60s fresh"}},
    };
    for (const auto& [loaded, error, expected] : rows) {
        FakeApp app;
        app.launch();
        if (loaded) app.fake.http.respond(HttpResponse{200, ""});
        app.fake.advance(0);
        app.fake.events.clear();
        app.delegate->performCommand(AppCommand::OpenVoiceNotes);
        for (auto& finish : app.fake.application.webView->scripts) finish(error);
        EXPECT_EQ(app.fake.events, expected) << loaded << error.ok();
    }
}

// The host is compared exactly as the web view reports it: no other spelling, never with a port.
TEST(MediaCapture, OnlyTheLocalAppGetsTheMicrophoneAndNobodyTheCameraAlone) {
    constexpr auto G = PermissionDecision::Grant, D = PermissionDecision::Deny;
    FakeApp app;
    const std::pair<std::string, PermissionDecision> hosts[] = {
        {"127.0.0.1", G}, {"localhost", G},      {"LOCALHOST", D}, {"127.0.0.2", D},
        {"127.0.0.1:3001", D}, {"localhost.", D}, {"", D},          {"example.com", D}};
    for (const auto& [host, local] : hosts) {
        // A type beyond the enum, from a backend that knows more of them, is denied too.
        for (const auto& [type, expected] : {std::pair{MediaCaptureType::Microphone, local},
                                             {MediaCaptureType::CameraAndMicrophone, local},
                                             {MediaCaptureType::Camera, D}, {static_cast<MediaCaptureType>(3), D}}) {
            EXPECT_EQ(app.delegate->onMediaCapturePermissionRequest(host, type), expected)
                << host << " " << static_cast<int>(type);
        }
    }
    EXPECT_EQ(app.fake.events, fake::EventLog{});
}

}  // namespace lorvane
