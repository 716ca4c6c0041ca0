// The media-capture policy: the full host-by-type table, and the delegate answering exactly once.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "delegate_access.h"
#include "fake_platform.h"
#include "web/media_capture.h"

namespace lorvane {
namespace {

struct CaptureCase {
    const char* host;
    int type;  // an int, so values outside the enum can be asked about too
    PermissionDecision expected;
};

class MediaCaptureTable : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(MediaCaptureTable, GrantsMicrophoneToTheLocalHostOnly) {
    const CaptureCase& c = GetParam();
    EXPECT_EQ(decideMediaCapture(c.host, static_cast<MediaCaptureType>(c.type)), c.expected)
        << "host \"" << c.host << "\", type " << c.type;
}

constexpr int kCamera = 0;
constexpr int kMicrophone = 1;
constexpr int kCameraAndMicrophone = 2;
constexpr auto Grant = PermissionDecision::Grant;
constexpr auto Deny = PermissionDecision::Deny;

INSTANTIATE_TEST_SUITE_P(Media, MediaCaptureTable, ::testing::Values(
    CaptureCase{"127.0.0.1", kMicrophone, Grant},
    CaptureCase{"127.0.0.1", kCameraAndMicrophone, Grant},
    CaptureCase{"127.0.0.1", kCamera, Deny},
    CaptureCase{"127.0.0.1", 3, Deny},
    CaptureCase{"127.0.0.1", -1, Deny},
    CaptureCase{"localhost", kMicrophone, Grant},
    CaptureCase{"localhost", kCameraAndMicrophone, Grant},
    CaptureCase{"localhost", kCamera, Deny},
    CaptureCase{"localhost", 3, Deny},
    CaptureCase{"LOCALHOST", kMicrophone, Deny},
    CaptureCase{"127.0.0.2", kMicrophone, Deny},
    CaptureCase{"127.0.0.1:3001", kMicrophone, Deny},  // the host alone is compared, never with a port
    CaptureCase{"localhost.", kMicrophone, Deny},
    CaptureCase{"", kMicrophone, Deny},
    CaptureCase{"", kCameraAndMicrophone, Deny},
    CaptureCase{"example.com", kMicrophone, Deny},
    CaptureCase{"example.com", kCameraAndMicrophone, Deny},
    CaptureCase{"example.com", kCamera, Deny}));

TEST(MediaCaptureDelegate, AnswersEachRequestExactlyOnceBeforeReturning) {
    fake::FakePlatform fake;
    auto d = std::make_shared<AppDelegate>(
        fake.platform(), testUpdateEndpoints());
    for (const auto& [host, type, expected] : {std::tuple{"127.0.0.1", MediaCaptureType::Microphone, Grant},
                                               std::tuple{"localhost", MediaCaptureType::Camera, Deny},
                                               std::tuple{"example.com", MediaCaptureType::Microphone, Deny}}) {
        std::vector<PermissionDecision> answers;
        d->onMediaCapturePermissionRequest(host, type, [&](PermissionDecision decision) { answers.push_back(decision); });
        EXPECT_EQ(answers, std::vector<PermissionDecision>{expected}) << host;
    }
    EXPECT_TRUE(fake.events.empty());  // nothing else is touched
}

}  // namespace
}  // namespace lorvane
