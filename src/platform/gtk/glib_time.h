// Seconds as GLib's millisecond time-outs.
#pragma once

#include <glib.h>

#include <cmath>

namespace lorvane::gtk {

// `seconds` in whole milliseconds, at most a day; 0 for anything not positive, NaN included, and
// for no time-out at all.
inline guint millisecondsFor(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) return 0;
    return static_cast<guint>(std::llround(std::fmin(seconds, 86400.0) * 1000.0));
}

}  // namespace lorvane::gtk
