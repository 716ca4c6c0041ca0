// The process environment and the wall clock, as the core sees them.
#include <chrono>
#include <cstring>

#include "platform/posix/posix_environment.h"

extern char** environ;

namespace lorvane {

Environment PosixEnvironment::snapshot() const {
    Environment copy;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* separator = std::strchr(*entry, '=');
        // An entry without "=" (or without a name) cannot be passed on as a variable.
        if (separator == nullptr || separator == *entry) continue;
        // The first of duplicate names wins, as getenv sees it.
        copy.emplace(std::string(*entry, static_cast<std::size_t>(separator - *entry)), std::string(separator + 1));
    }
    for (const auto& [name, startedWith] : shellOnlyVariables_) {
        if (startedWith) {
            copy[name] = *startedWith;
        } else {
            copy.erase(name);
        }
    }
    return copy;
}

double SystemClock::now() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace lorvane
