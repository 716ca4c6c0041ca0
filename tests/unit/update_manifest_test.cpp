// Reading the release manifest, the verdict on a check, and which alert each verdict gets.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "update/manifest.h"
#include "update/update_outcome.h"

namespace lorvane {
namespace {

std::optional<HttpResponse> answer(int status, std::optional<std::string> body) {
    return HttpResponse{status, std::move(body)};
}

constexpr const char* kValidManifest = R"({"version":"1.10.0"})";

struct ManifestCase {
    const char* what;
    std::optional<HttpResponse> response;
    const char* expected;  // the version, or the failure reason when `fails`
    bool fails;
};

class UpdateManifestTable : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(UpdateManifestTable, ReadsVersionOrFirstBrokenRule) {
    const ManifestCase& c = GetParam();
    const auto version = readManifestVersion(c.response);
    ASSERT_EQ(version.ok(), !c.fails) << c.what;
    EXPECT_EQ(c.fails ? version.reason() : version.value(), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Update, UpdateManifestTable, ::testing::Values(
    ManifestCase{"no response", std::nullopt, "no response", true},
    ManifestCase{"201 with a manifest", answer(201, kValidManifest), "status 201", true},
    ManifestCase{"404 with a manifest", answer(404, kValidManifest), "status 404", true},
    ManifestCase{"500 with a manifest", answer(500, kValidManifest), "status 500", true},
    ManifestCase{"status checked before body", answer(404, std::nullopt), "status 404", true},
    ManifestCase{"no body", answer(200, std::nullopt), "no body", true},
    ManifestCase{"empty body", answer(200, ""), "body is not JSON", true},
    ManifestCase{"invalid JSON", answer(200, R"({"version":)"), "body is not JSON", true},
    ManifestCase{"trailing text", answer(200, R"({"version":"1.0"} x)"), "body is not JSON", true},
    ManifestCase{"array", answer(200, R"([{"version":"1.0"}])"), "top level is not an object", true},
    ManifestCase{"bare string", answer(200, R"("1.0")"), "top level is not an object", true},
    ManifestCase{"no version", answer(200, R"({"name":"Lorvane"})"), "no \"version\"", true},
    ManifestCase{"version is the number 2", answer(200, R"({"version":2})"), "\"version\" is not a string", true},
    ManifestCase{"version is the number 1.4", answer(200, R"({"version":1.4})"), "\"version\" is not a string", true},
    ManifestCase{"version is null", answer(200, R"({"version":null})"), "\"version\" is not a string", true},
    ManifestCase{"plain manifest", answer(200, kValidManifest), "1.10.0", false},
    ManifestCase{"extra members ignored", answer(200, R"({"url":"x","version":"2.0","notes":[1]})"), "2.0", false},
    ManifestCase{"version kept as written", answer(200, R"({"version":" 1.0 \u00e9"})"), " 1.0 \xC3\xA9", false}));

struct DecisionCase {
    const char* manifestVersion;
    const char* installedVersion;
    UpdateVerdict expected;
};

class UpdateDecisionTable : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(UpdateDecisionTable, NewerOnlyWhenManifestOrdersAfterInstalled) {
    const DecisionCase& c = GetParam();
    const auto body = std::string(R"({"version":")") + c.manifestVersion + "\"}";
    const UpdateOutcome outcome = decideUpdate(answer(200, body), c.installedVersion);
    EXPECT_EQ(outcome.verdict, c.expected) << c.manifestVersion << " against " << c.installedVersion;
    EXPECT_EQ(outcome.manifestVersion, c.manifestVersion);
    EXPECT_EQ(outcome.installedVersion, c.installedVersion);
}

INSTANTIATE_TEST_SUITE_P(Update, UpdateDecisionTable, ::testing::Values(
    // The ordering itself is tabled with the version order; these pin which way round it is used.
    DecisionCase{"1.10.0", "1.9.3", UpdateVerdict::NewerRelease},
    DecisionCase{"1.4.2", "1.4.2", UpdateVerdict::NotNewer},
    DecisionCase{"1.2.0", "1.3.0", UpdateVerdict::NotNewer},
    DecisionCase{"1.0.0", "1.0", UpdateVerdict::NewerRelease}));

TEST(UpdateDecision, UnusableAnswerFailsWhateverTheInstalledVersion) {
    EXPECT_EQ(decideUpdate(std::nullopt, "1.0").verdict, UpdateVerdict::Failed);
    EXPECT_EQ(decideUpdate(answer(200, R"({"version":2})"), "1.0").verdict, UpdateVerdict::Failed);
}

struct AlertCase {
    UpdateVerdict verdict;
    UpdateCheckTrigger trigger;
    PackageKind kind;
    std::optional<Alert> expected;
};

const Alert kNewer{"Доступно обновление Lorvane 1.10.0",
                   "Скачайте новый DMG и замените приложение. Официальная Apple-подпись на этом этапе не используется.",
                   {"Открыть загрузки", "Позже"}};
const Alert kNewerPackage{"Доступно обновление Lorvane 1.10.0", "Скачайте новый пакет и установите его.",
                          {"Открыть загрузки", "Позже"}};
const Alert kUpToDate{"Установлена актуальная версия", "Lorvane 1.9.3", {"OK"}};
const Alert kFailed{"Не удалось проверить обновления", "Проверьте подключение к интернету и повторите позже.", {"OK"}};

class UpdateAlertTable : public ::testing::TestWithParam<AlertCase> {};

TEST_P(UpdateAlertTable, ChoosesAtMostOneAlert) {
    const AlertCase& c = GetParam();
    const UpdateOutcome outcome{c.verdict, c.verdict == UpdateVerdict::Failed ? "" : "1.10.0", "1.9.3"};
    const auto alert = alertForOutcome(outcome, c.trigger, c.kind);
    ASSERT_EQ(alert.has_value(), c.expected.has_value());
    if (!alert) return;
    EXPECT_EQ(alert->messageText, c.expected->messageText);
    EXPECT_EQ(alert->informativeText, c.expected->informativeText);
    EXPECT_EQ(alert->buttons, c.expected->buttons);
}

// Only the newer-release advice depends on what the app was installed from.
INSTANTIATE_TEST_SUITE_P(Update, UpdateAlertTable, ::testing::Values(
    AlertCase{UpdateVerdict::NewerRelease, UpdateCheckTrigger::FromMenu, PackageKind::DiskImage, kNewer},
    AlertCase{UpdateVerdict::NewerRelease, UpdateCheckTrigger::Automatic, PackageKind::DiskImage, kNewer},
    AlertCase{UpdateVerdict::NewerRelease, UpdateCheckTrigger::FromMenu, PackageKind::SystemPackage, kNewerPackage},
    AlertCase{UpdateVerdict::NewerRelease, UpdateCheckTrigger::Automatic, PackageKind::SystemPackage, kNewerPackage},
    AlertCase{UpdateVerdict::NotNewer, UpdateCheckTrigger::FromMenu, PackageKind::DiskImage, kUpToDate},
    AlertCase{UpdateVerdict::NotNewer, UpdateCheckTrigger::FromMenu, PackageKind::SystemPackage, kUpToDate},
    AlertCase{UpdateVerdict::NotNewer, UpdateCheckTrigger::Automatic, PackageKind::SystemPackage, std::nullopt},
    AlertCase{UpdateVerdict::Failed, UpdateCheckTrigger::FromMenu, PackageKind::DiskImage, kFailed},
    AlertCase{UpdateVerdict::Failed, UpdateCheckTrigger::FromMenu, PackageKind::SystemPackage, kFailed},
    AlertCase{UpdateVerdict::Failed, UpdateCheckTrigger::Automatic, PackageKind::SystemPackage, std::nullopt}));

}  // namespace
}  // namespace lorvane
