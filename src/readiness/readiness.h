// Readiness polling's fixed numbers and the rule for a ready answer.
#pragma once

namespace lorvane::readiness {

inline constexpr double kPollIntervalSeconds = 0.3;
inline constexpr double kTimeLimitSeconds = 30.0;
inline constexpr double kProbeTimeoutSeconds = 1.0;
inline constexpr double kAppRequestTimeoutSeconds = 60.0;

// Any answer from 200 to 499 means the server is up and routing requests, even if "/" is missing;
// 0 stands for no HTTP answer at all.
constexpr bool isReadyStatus(int status) { return status >= 200 && status <= 499; }

}  // namespace lorvane::readiness
