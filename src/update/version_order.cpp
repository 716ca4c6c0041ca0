// Numeric ordering of version strings; see version_order.h for the rules.
#include "update/version_order.h"

#include <algorithm>
#include <cstddef>

namespace lorvane {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the digit run starting at `from`.
std::size_t digitRunLength(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && isDigit(text[end])) ++end;
    return end - from;
}

// Compares two digit runs by value without converting them, so runs longer than any integer type
// still compare correctly: after the leading zeros, a longer run is larger, and runs of one
// length compare digit by digit.
std::strong_ordering compareRunValues(std::string_view a, std::string_view b) {
    a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
    b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size()) return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

}  // namespace

std::strong_ordering compareVersionsNumerically(std::string_view a, std::string_view b) {
    // Set at the first pair of equal-valued runs that differ in zero padding; used only if nothing
    // else tells the strings apart.
    std::strong_ordering paddingOrder = std::strong_ordering::equal;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view runA = a.substr(i, digitRunLength(a, i));
            const std::string_view runB = b.substr(j, digitRunLength(b, j));
            if (auto order = compareRunValues(runA, runB); order != 0) return order;
            if (paddingOrder == 0) paddingOrder = runB.size() <=> runA.size();
            i += runA.size();
            j += runB.size();
            continue;
        }
        const auto byteA = static_cast<unsigned char>(a[i]);
        const auto byteB = static_cast<unsigned char>(b[j]);
        if (byteA != byteB) return byteA <=> byteB;
        ++i;
        ++j;
    }
    const bool aDone = i == a.size();
    const bool bDone = j == b.size();
    if (aDone && bDone) return paddingOrder;
    return aDone ? std::strong_ordering::less : std::strong_ordering::greater;
}

}  // namespace lorvane
