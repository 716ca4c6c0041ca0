// Fuzzes the numeric version ordering for the properties of an order: antisymmetry, transitivity,
// equality only for equal strings, and digit runs compared by value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "update/version_order.h"

namespace {

// Three dotted versions made from the input: mostly digits and dots, with a little else.
std::vector<std::string> versionsFrom(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> versions(3);
    std::size_t which = 0;
    for (std::size_t i = 0; i < size && which < 3; ++i) {
        const std::uint8_t b = data[i];
        if (b == 0xFF) {
            ++which;
        } else if (b < 0xC0) {
            versions[which] += static_cast<char>('0' + b % 10);
        } else if (b < 0xF0) {
            versions[which] += '.';
        } else {
            versions[which] += static_cast<char>("ab-+~ 0"[b % 7]);
        }
    }
    return versions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using lorvane::compareVersionsNumerically;
    const auto v = versionsFrom(data, size);
    const auto ab = compareVersionsNumerically(v[0], v[1]);
    const auto ba = compareVersionsNumerically(v[1], v[0]);
    const auto bc = compareVersionsNumerically(v[1], v[2]);
    const auto ac = compareVersionsNumerically(v[0], v[2]);
    FUZZ_CHECK((ab < 0) == (ba > 0) && (ab == 0) == (ba == 0));
    FUZZ_CHECK((ab == 0) == (v[0] == v[1]));
    if (ab <= 0 && bc <= 0) FUZZ_CHECK(ac <= 0);
    if (ab >= 0 && bc >= 0) FUZZ_CHECK(ac >= 0);
    // Appending a larger number to a shared prefix orders after.
    FUZZ_CHECK(compareVersionsNumerically(v[0] + ".9", v[0] + ".10") < 0);
    FUZZ_CHECK(compareVersionsNumerically(v[0], v[0] + ".0") < 0);
    return 0;
}
