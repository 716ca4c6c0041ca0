// The process environment and the wall clock on any POSIX system.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/places.h"
#include "platform/process_launcher.h"

namespace lorvane {

// Variables the shell set or changed in its own environment for its toolkit, each with what the
// processes it starts see instead: the value the shell was started with, or no variable at all.
using ShellOnlyVariables = std::map<std::string, std::optional<std::string>>;

// The process's `environ`, copied afresh on every call, with the variables the shell set or
// changed for its toolkit (a renderer choice) put back as the shell was started with them: what
// the shell passes on to the processes it starts is the environment it was started with.
class PosixEnvironment final : public ProcessEnvironmentSource {
public:
    PosixEnvironment() = default;
    explicit PosixEnvironment(ShellOnlyVariables shellOnlyVariables)
        : shellOnlyVariables_(std::move(shellOnlyVariables)) {}

    Environment snapshot() const override;

private:
    ShellOnlyVariables shellOnlyVariables_;
};

class SystemClock final : public Clock {
public:
    double now() const override;
};

}  // namespace lorvane
