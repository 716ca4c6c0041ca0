// The voice-notes command on the fake platform: the gate, the order of steps, the reload fallback.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "delegate_access.h"
#include "fake_platform.h"
#include "web/voice_notes.h"

namespace lorvane {
namespace {

class VoiceNotesTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& state = AppDelegateTestAccess::state(*delegate);
        state.webView = fake.application.createWebView(WebViewSpec{}, delegate);
        state.window = fake.application.createWindow(WindowSpec{}, state.webView);
        fake.events.clear();
    }
    void markLoaded() { AppDelegateTestAccess::state(*delegate).appLoaded = true; }
    fake::FakeWebView& webView() { return *fake.application.webView; }

    fake::FakePlatform fake;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(
        fake.platform(), testUpdateEndpoints());
};

TEST(VoiceNotesScript, IsTheExactSixLinesWithoutFinalLineFeed) {
    const std::vector<std::string> lines = {
        "(() => {",
        "  const next = new URL(window.location.href);",
        "  next.searchParams.set('view', 'voice');",
        "  window.history.pushState(window.history.state, '', next);",
        "  window.dispatchEvent(new PopStateEvent('popstate'));",
        "})();",
    };
    const std::string joined = std::accumulate(std::next(lines.begin()), lines.end(), lines.front(),
                                               [](std::string text, const std::string& line) { return text + "\n" + line; });
    EXPECT_EQ(kVoiceViewScript, joined);
    EXPECT_EQ(kVoiceViewScript.size(), 217u);
}

TEST_F(VoiceNotesTest, DoesNothingBeforeTheWebApplicationIsLoaded) {
    delegate->openVoiceNotes();
    EXPECT_TRUE(fake.events.empty());
    EXPECT_TRUE(webView().evaluations.empty());
    EXPECT_TRUE(webView().loads.empty());
}

TEST_F(VoiceNotesTest, RaisesActivatesThenRunsTheScript) {
    markLoaded();
    delegate->openVoiceNotes();
    EXPECT_EQ(fake.events, (fake::EventLog{"window.makeKeyAndOrderFront", "app.activateIgnoringOtherApps",
                                           "webView.evaluateJavaScript"}));
    ASSERT_EQ(webView().evaluations.size(), 1u);
    EXPECT_EQ(webView().evaluations[0].script, kVoiceViewScript);
}

TEST_F(VoiceNotesTest, ScriptWithoutErrorLoadsNothing) {
    markLoaded();
    delegate->openVoiceNotes();
    webView().finishScript(0, std::nullopt);
    fake.runUntilIdle();
    EXPECT_TRUE(webView().loads.empty());
}

TEST_F(VoiceNotesTest, ScriptErrorReloadsStraightOntoTheVoiceView) {
    markLoaded();
    delegate->openVoiceNotes();
    webView().finishScript(0, ScriptError{"SecurityError"});
    ASSERT_EQ(webView().loads.size(), 1u);
    const WebRequest& request = webView().loads[0].request;
    EXPECT_FALSE(webView().loads[0].isHtml);
    EXPECT_EQ(request.url, "http://127.0.0.1:3001/?view=voice");
    EXPECT_EQ(request.cachePolicy, CachePolicy::ReloadIgnoringLocalCache);
    EXPECT_EQ(request.timeoutSeconds, 60.0);
}

TEST_F(VoiceNotesTest, ErrorAfterTheDelegateIsGoneDoesNothing) {
    markLoaded();
    delegate->openVoiceNotes();
    delegate.reset();
    webView().finishScript(0, ScriptError{"SecurityError"});
    EXPECT_TRUE(webView().loads.empty());
}

TEST_F(VoiceNotesTest, EachCommandRunsTheScriptAgain) {
    markLoaded();
    delegate->openVoiceNotes();
    delegate->openVoiceNotes();
    EXPECT_EQ(webView().evaluations.size(), 2u);
    EXPECT_EQ(fake.eventsStartingWith("window.makeKeyAndOrderFront").size(), 2u);
}

TEST_F(VoiceNotesTest, MissingWindowOrWebViewMakesTheCommandANoOp) {
    markLoaded();
    auto& state = AppDelegateTestAccess::state(*delegate);
    auto window = std::exchange(state.window, nullptr);
    delegate->openVoiceNotes();
    state.window = window;
    state.webView = nullptr;
    delegate->openVoiceNotes();
    EXPECT_TRUE(fake.events.empty());
}

}  // namespace
}  // namespace lorvane
