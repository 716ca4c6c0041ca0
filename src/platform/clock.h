// Wall-clock time, injected so that time limits can be tested on virtual time.
#pragma once

namespace lorvane {

class Clock {
public:
    virtual ~Clock() = default;
    // Any thread. Seconds since the Unix epoch, as a wall-clock date with sub-second precision.
    virtual double now() const = 0;
};

}  // namespace lorvane
