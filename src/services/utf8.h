// UTF-8 as RFC 3629 has it: well-formed sequences only, no overlong forms, no surrogates
// (U+D800..U+DFFF) and nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace lorvane {

struct CodePoint {
    char32_t value;
    std::size_t length;  // of its encoding, in bytes
};

// The code point whose encoding starts at byte `at` of `text`, or none where no well-formed
// sequence starts there.
inline std::optional<CodePoint> decodeUtf8At(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return CodePoint{lead, 1};
    std::size_t length;
    unsigned char low = 0x80;  // bounds of the first continuation byte
    unsigned char high = 0xBF;
    char32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // overlong below U+10000
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return std::nullopt;  // a continuation byte as lead, C0/C1 overlongs, F5..FF
    }
    if (text.size() - at < length || byte(1) < low || byte(1) > high) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        if (byte(k) < 0x80 || byte(k) > 0xBF) return std::nullopt;
        value = (value << 6) | (byte(k) & 0x3F);
    }
    return CodePoint{value, length};
}

inline bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto point = decodeUtf8At(text, at);
        if (!point) return false;
        at += point->length;
    }
    return true;
}

}  // namespace lorvane
