// Fuzzes the launch-error page with arbitrary log paths: the page's code element must hold exactly
// the path as text, whatever bytes the path contains.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "readiness/launch_error_page.h"

namespace {

// Decodes the character references a browser would decode in text content, and reports markup.
bool textContent(const std::string& html, std::string& text) {
    for (std::size_t i = 0; i < html.size();) {
        if (html[i] == '<') return false;  // an element or comment would start here
        if (html[i] != '&') {
            text += html[i++];
            continue;
        }
        static constexpr std::pair<const char*, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
        bool known = false;
        for (const auto& [entity, c] : kEntities) {
            if (html.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                text += c;
                i += std::char_traits<char>::length(entity);
                known = true;
                break;
            }
        }
        if (!known) return false;  // a bare '&' could start a reference of the path's making
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string page = lorvane::launchErrorPage(path);
    const std::string open = "<br><code>";
    const std::string close = "</code></p>\n</main></body></html>";
    const auto start = page.find(open);
    FUZZ_CHECK(start != std::string::npos && start + open.size() == 690);
    FUZZ_CHECK(page.size() >= 690 + close.size() && page.compare(page.size() - close.size(), close.size(), close) == 0);
    const std::string inside = page.substr(690, page.size() - 690 - close.size());
    std::string text;
    FUZZ_CHECK(textContent(inside, text));
    FUZZ_CHECK(text == path);
    return 0;
}
