// The update check on the fake platform: the request, the alerts and what their answers do.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "delegate_access.h"
#include "fake_platform.h"

namespace lorvane {
namespace {

const std::string kManifestURL = testUpdateEndpoints().manifestURL;
const std::string kDownloadsURL = testUpdateEndpoints().downloadPageURL;

std::optional<HttpResponse> manifest(const std::string& version) {
    return HttpResponse{200, R"({"version":")" + version + "\"}"};
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override { fake.places.version = "1.9.3"; }

    void check(bool fromMenu) {
        if (fromMenu) {
            delegate->checkForUpdatesFromMenu();
        } else {
            AppDelegateTestAccess::checkForUpdates(*delegate, UpdateCheckTrigger::Automatic);
        }
    }
    // Answers the check's request and lets the main queue deliver it.
    void answerAndRun(std::optional<HttpResponse> response, std::size_t index = 0) {
        fake.http.respond(index, std::move(response));
        fake.runUntilIdle();
    }

    fake::FakePlatform fake;
    std::shared_ptr<AppDelegate> delegate =
        std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
};

TEST_F(UpdateCheckTest, RequestsTheManifestFreshWithAnEightSecondLimit) {
    for (bool fromMenu : {true, false}) {
        check(fromMenu);
        const HttpRequest& request = fake.http.exchanges().back().request;
        EXPECT_EQ(request.url, kManifestURL);
        EXPECT_EQ(request.timeoutSeconds, 8.0);
        EXPECT_EQ(request.cachePolicy, CachePolicy::ReloadIgnoringLocalCache);
        EXPECT_EQ(request.needs, HttpAnswerNeeded::StatusAndBody);
    }
    EXPECT_EQ(fake.http.exchanges().size(), 2u);
}

struct FailureCase {
    const char* what;
    std::optional<HttpResponse> response;
};

class UpdateCheckFailure : public UpdateCheckTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateCheckFailure, MenuCheckSaysSoAndAutomaticCheckShowsNothing) {
    check(true);
    check(false);
    answerAndRun(GetParam().response, 1);  // the automatic check's answer
    EXPECT_TRUE(fake.application.alerts.empty()) << GetParam().what;
    answerAndRun(GetParam().response, 0);
    ASSERT_EQ(fake.application.alerts.size(), 1u) << GetParam().what;
    EXPECT_EQ(fake.application.alerts[0].messageText, "Не удалось проверить обновления");
    EXPECT_EQ(fake.application.alerts[0].informativeText, "Проверьте подключение к интернету и повторите позже.");
    EXPECT_EQ(fake.application.alerts[0].buttons, std::vector<std::string>{"OK"});
}

constexpr const char* kValidBody = R"({"version":"9.0"})";

INSTANTIATE_TEST_SUITE_P(Update, UpdateCheckFailure, ::testing::Values(
    FailureCase{"no response", std::nullopt},
    FailureCase{"status 201", HttpResponse{201, kValidBody}},
    FailureCase{"status 404", HttpResponse{404, kValidBody}},
    FailureCase{"status 500", HttpResponse{500, kValidBody}},
    FailureCase{"no body", HttpResponse{200, std::nullopt}},
    FailureCase{"empty body", HttpResponse{200, ""}},
    FailureCase{"invalid JSON", HttpResponse{200, "{version: 9}"}},
    FailureCase{"array", HttpResponse{200, R"(["9.0"])"}},
    FailureCase{"no version", HttpResponse{200, R"({"latest":"9.0"})"}},
    FailureCase{"number version", HttpResponse{200, R"({"version":2})"}}));

TEST_F(UpdateCheckTest, AutomaticCheckAnnouncesANewerRelease) {
    check(false);
    answerAndRun(manifest("1.10.0"));
    ASSERT_EQ(fake.application.alerts.size(), 1u);
    EXPECT_EQ(fake.application.alerts[0].messageText, "Доступно обновление Lorvane 1.10.0");
    EXPECT_EQ(fake.application.alerts[0].buttons, (std::vector<std::string>{"Открыть загрузки", "Позже"}));
}

struct AnswerCase {
    AlertAnswer answer;
    bool opensDownloads;
};

class UpdateCheckNewerAnswer : public UpdateCheckTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(UpdateCheckNewerAnswer, OnlyTheFirstButtonOpensTheDownloadsPage) {
    fake.application.alertAnswers = {GetParam().answer};
    check(true);
    answerAndRun(manifest("2.0"));
    ASSERT_EQ(fake.application.alerts.size(), 1u);
    const std::vector<std::string> expected =
        GetParam().opensDownloads ? std::vector<std::string>{kDownloadsURL} : std::vector<std::string>{};
    EXPECT_EQ(fake.application.openedURLs, expected) << "answer " << static_cast<int>(GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Update, UpdateCheckNewerAnswer, ::testing::Values(
    AnswerCase{AlertAnswer::FirstButton, true},    // "Открыть загрузки"
    AnswerCase{AlertAnswer::SecondButton, false},  // "Позже"
    AnswerCase{AlertAnswer::Dismissed, false}));   // closed some other way, or the app quit

TEST_F(UpdateCheckTest, UpToDateAlertOnlyFromTheMenuAndItsOkOpensNothing) {
    fake.application.alertAnswers = {AlertAnswer::FirstButton, AlertAnswer::FirstButton};
    check(false);
    answerAndRun(manifest("1.9.3"), 0);
    EXPECT_TRUE(fake.application.alerts.empty());

    for (const char* version : {"1.9.3", "1.2.0"}) {  // equal and older alike count as current
        check(true);
        answerAndRun(manifest(version), fake.http.exchanges().size() - 1);
    }
    ASSERT_EQ(fake.application.alerts.size(), 2u);
    for (const Alert& alert : fake.application.alerts) {
        EXPECT_EQ(alert.messageText, "Установлена актуальная версия");
        EXPECT_EQ(alert.informativeText, "Lorvane 1.9.3");
    }
    EXPECT_TRUE(fake.application.openedURLs.empty());
}

TEST_F(UpdateCheckTest, FailureAlertOkOpensNothing) {
    fake.application.alertAnswers = {AlertAnswer::FirstButton};
    check(true);
    answerAndRun(std::nullopt);
    EXPECT_EQ(fake.application.alerts.size(), 1u);
    EXPECT_TRUE(fake.application.openedURLs.empty());
}

TEST_F(UpdateCheckTest, MissingInstalledVersionCountsAsZero) {
    fake.places.version = std::nullopt;
    check(true);
    answerAndRun(manifest("0.0.0"));
    check(false);
    answerAndRun(manifest("0.0.1"), 1);
    ASSERT_EQ(fake.application.alerts.size(), 2u);
    EXPECT_EQ(fake.application.alerts[0].informativeText, "Lorvane 0.0.0");
    EXPECT_EQ(fake.application.alerts[1].messageText, "Доступно обновление Lorvane 0.0.1");
}

TEST_F(UpdateCheckTest, TwoMenuChecksSendTwoRequestsAndShowTwoAlerts) {
    check(true);
    check(true);
    ASSERT_EQ(fake.http.exchanges().size(), 2u);
    fake.http.respond(1, manifest("1.10.0"));
    fake.http.respond(0, manifest("1.9.3"));
    fake.runUntilIdle();
    EXPECT_EQ(fake.eventsStartingWith("app.showAlert"),
              (std::vector<std::string>{"app.showAlert Доступно обновление Lorvane 1.10.0",
                                        "app.showAlert Установлена актуальная версия"}));
    EXPECT_EQ(fake.application.openAlerts(), 2u);  // the second does not wait for the first
}

TEST_F(UpdateCheckTest, DelegateGoneBeforeTheAnswerShowsNothing) {
    check(true);
    delegate.reset();
    answerAndRun(manifest("1.10.0"));
    EXPECT_TRUE(fake.application.alerts.empty());
}

TEST_F(UpdateCheckTest, OpenAlertKeepsTheDelegateForItsAnswer) {
    check(true);
    answerAndRun(manifest("1.10.0"));
    ASSERT_EQ(fake.application.openAlerts(), 1u);
    std::weak_ptr<AppDelegate> weak = delegate;
    delegate.reset();
    EXPECT_FALSE(weak.expired());
    fake.application.answerAlert(0, AlertAnswer::FirstButton);
    EXPECT_EQ(fake.application.openedURLs, std::vector<std::string>{kDownloadsURL});
    EXPECT_TRUE(weak.expired());  // let go once answered
}

}  // namespace
}  // namespace lorvane
