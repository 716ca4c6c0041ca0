// Checks the user's voice public URL file with a real URL parser before handing it to the server.
#include "services/voice_public_url.h"

#include <uriparser/Uri.h>

#include <array>
#include <cstdint>

#include "services/utf8.h"

namespace lorvane {

namespace {

// Code points that count as whitespace or line breaks at the ends of the file's text.
bool isTrimmable(std::uint32_t cp) {
    static constexpr std::array<std::uint32_t, 11> kUnicodeSpaces = {
        0x85, 0xA0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0xFEFF, 0x200B};
    if (cp == ' ' || (cp >= 0x09 && cp <= 0x0D)) return true;
    if (cp >= 0x2000 && cp <= 0x200A) return true;
    for (auto s : kUnicodeSpaces) {
        if (cp == s) return true;
    }
    return false;
}

std::string_view rangeText(const UriTextRangeA& range) {
    if (!range.first) return {};
    return std::string_view(range.first, static_cast<std::size_t>(range.afterLast - range.first));
}

bool present(const UriTextRangeA& range) { return range.first != nullptr; }

// The path as the text between the authority and the query: "" when there is none.
std::string pathOf(const UriUriA& uri) {
    std::string path;
    for (const UriPathSegmentA* seg = uri.pathHead; seg; seg = seg->next) {
        path += '/';
        path += rangeText(seg->text);
    }
    return path;
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto point = decodeUtf8At(text, begin);
        if (!point || !isTrimmable(point->value)) break;
        begin += point->length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the first byte of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        const auto point = decodeUtf8At(text, start);
        if (!point || start + point->length != end || !isTrimmable(point->value)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::optional<std::string> validVoicePublicURL(std::string_view fileText) {
    std::string trimmed = trimWhitespaceAndNewlines(fileText);

    UriUriA uri;
    const char* errorPos = nullptr;
    if (uriParseSingleUriExA(&uri, trimmed.data(), trimmed.data() + trimmed.size(), &errorPos) != URI_SUCCESS) {
        return std::nullopt;
    }
    struct Release {
        UriUriA& u;
        ~Release() { uriFreeUriMembersA(&u); }
    } release{uri};

    if (!present(uri.scheme) || rangeText(uri.scheme) != "https") return std::nullopt;
    std::string_view host = rangeText(uri.hostText);
    if (!present(uri.hostText) || !host.ends_with(kMeshVpnDnsSuffix)) return std::nullopt;
    // User name and password both live in the user information; either one fails.
    if (present(uri.userInfo) || present(uri.query) || present(uri.fragment)) return std::nullopt;
    std::string path = pathOf(uri);
    if (!path.empty() && path != "/") return std::nullopt;
    return trimmed;
}

}  // namespace lorvane
