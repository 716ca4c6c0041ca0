// Fuzzes the numeric version ordering for the properties of an order: antisymmetry, transitivity,
// equality only for equal strings, and digit runs compared by value.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "update/version_order.h"

// The input is three versions, one per line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using lorvane::compareVersionsNumerically;
    std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
    std::string a, b, c;
    std::getline(lines, a);
    std::getline(lines, b);
    std::getline(lines, c);
    const auto ab = compareVersionsNumerically(a, b), bc = compareVersionsNumerically(b, c);
    fuzzCheck(compareVersionsNumerically(b, a) == (0 <=> ab));
    fuzzCheck((ab == 0) == (a == b));
    if (ab <= 0 && bc <= 0) fuzzCheck(compareVersionsNumerically(a, c) <= 0);
    if (ab >= 0 && bc >= 0) fuzzCheck(compareVersionsNumerically(a, c) >= 0);
    fuzzCheck(compareVersionsNumerically(a + ".9", a + ".10") < 0);
    fuzzCheck(compareVersionsNumerically(a, a + ".0") < 0);
    return 0;
}
