// Ordering of version strings such as "1.10.0", where digit runs compare as numbers.
#pragma once

#include <compare>
#include <string_view>

namespace lorvane {

// Orders two version strings from left to right. Where both strings have a run of ASCII digits,
// the runs compare by numeric value (so 10 orders after 9), however long they are; every other
// byte compares by its unsigned value (for UTF-8 text this is code-point order). The first
// difference decides, and a string that runs out first orders first ("1.0" before "1.0.1").
//
// Leading zeros do not change a run's value, so "1.01" and "1.1" agree run by run. Only when two
// strings agree everywhere in this sense does zero padding decide: at the first run whose padding
// differs, the longer (more zero-padded) run orders first, as it would in plain character order.
// A difference in value anywhere therefore outweighs any difference in padding ("1.01.9" after
// "1.1.0"), and `equal` means the two strings are identical.
std::strong_ordering compareVersionsNumerically(std::string_view a, std::string_view b);

}  // namespace lorvane
