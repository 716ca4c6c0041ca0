// The update check: how versions order, and what each outcome shows and opens.
#include <gtest/gtest.h>

#include <tuple>

#include "delegate_access.h"
#include "update/version_order.h"

namespace lorvane {

// Every version orders before every later one, and after every earlier one.
TEST(VersionOrder, ASortedListIsOrderedPairByPair) {
    const std::vector<std::string> sorted = {
        "", "0", "1", "1.00", "1.0", "1.0-rc2", "1.0-rc10", "1.0.0", "1.0.1", "1.0a", "1.01", "1.1", "1.01.9", "1.2",
        "1.9.3", "1.10.0", "1.10.0-beta", "1.18446744073709551616", "1.a", "2", "007", "7", "10", "V1", "a"};
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = 0; j < sorted.size(); ++j) {
            EXPECT_EQ(compareVersionsNumerically(sorted[i], sorted[j]), i <=> j) << sorted[i] << " vs " << sorted[j];
        }
    }
}

static const std::string kRequest = "http.get https://updates.example.test/releases/latest.json 8s fresh";
static const std::string kNewerImage =
    "alert Доступно обновление Lorvane 1.10.0 | Скачайте новый DMG и замените приложение. Официальная "
    "Apple-подпись на этом этапе не используется. | Открыть загрузки, Позже";
static const std::string kNewerPackage =
    "alert Доступно обновление Lorvane 1.10.0 | Скачайте новый пакет и установите его. | Открыть загрузки, Позже";
static const std::string kCurrent = "alert Установлена актуальная версия | Lorvane 1.9.3 | OK";
static const std::string kFailed =
    "alert Не удалось проверить обновления | Проверьте подключение к интернету и повторите позже. | OK";
static const std::string kDownloads = "app.openURL https://updates.example.test/#downloads";

static Result<HttpResponse> manifest(const std::string& version) {
    return HttpResponse{200, R"({"version":")" + version + "\"}"};
}

// The check at launch speaks up only for a newer release; only that alert's first button opens
// the downloads page. Which answers are unusable is the manifest's own rule (its fuzz corpus).
TEST(UpdateCheck, ShowsTheOutcomesAlertAndOpensTheDownloadsOnlyFromTheNewerRelease) {
    using enum UpdateCheckTrigger;
    using enum PackageKind;
    using enum AlertAnswer;
    // Who asked, how the app was installed, its version, the published one (none: no usable
    // answer), the user's answer to the alert, and what the user sees and the app opens.
    const std::tuple<UpdateCheckTrigger, PackageKind, std::optional<std::string>, std::optional<std::string>,
                     AlertAnswer, std::vector<std::string>>
        rows[] = {
        {FromMenu, DiskImage, "1.9.3", "1.10.0", FirstButton, {kRequest, kNewerImage, kDownloads}},
        {Automatic, SystemPackage, "1.9.3", "1.10.0", FirstButton, {kRequest, kNewerPackage, kDownloads}},
        {Automatic, DiskImage, "1.9.3", "1.10.0", Dismissed, {kRequest, kNewerImage}},
        {FromMenu, SystemPackage, "1.9.3", "1.2.0", FirstButton, {kRequest, kCurrent}},
        {Automatic, DiskImage, "1.9.3", "1.9.3", FirstButton, {kRequest}},
        {FromMenu, DiskImage, "1.9.3", std::nullopt, FirstButton, {kRequest, kFailed}},
        {Automatic, SystemPackage, "1.9.3", std::nullopt, FirstButton, {kRequest}},
        {FromMenu, DiskImage, std::nullopt, "0.0.0", FirstButton,
         {kRequest, "alert Установлена актуальная версия | Lorvane 0.0.0 | OK"}},
    };
    for (const auto& [trigger, kind, installed, published, answer, expected] : rows) {
        FakeApp app;
        app.fake.places.version = installed;
        app.fake.places.kind = kind;
        AppDelegateTestAccess::checkForUpdates(*app.delegate, trigger);
        app.fake.http.respond(published ? manifest(*published) : Failure{"refused"});
        app.fake.advance(0);
        if (!app.fake.application.alerts.empty()) app.fake.application.answer(0, answer);
        EXPECT_EQ(app.fake.events, expected) << published.value_or("no answer");
    }
}

}  // namespace lorvane
