// Fuzzes the launch-error page with arbitrary log paths: the fixed page stays as it is around the
// path, and the path is text. None of the characters that mean something in HTML (& < > ") is
// left bare, and the references that stand for them decode back to exactly the path's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "readiness/launch_error_page.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string empty = lorvane::launchErrorPage(""), page = lorvane::launchErrorPage(path);
    const std::size_t from = empty.find("</code>"), to = page.size() - (empty.size() - from);
    fuzzCheck(page.starts_with(empty.substr(0, from)) && page.ends_with(empty.substr(from)));
    static constexpr std::pair<std::string_view, char> kReferences[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
    std::string text;
    for (std::size_t i = from; i < to;) {
        fuzzCheck(page[i] != '<' && page[i] != '>' && page[i] != '"');
        const auto reference = std::find_if(std::begin(kReferences), std::end(kReferences), [&](const auto& r) {
            return page.compare(i, r.first.size(), r.first) == 0;
        });
        fuzzCheck(page[i] != '&' || reference != std::end(kReferences));
        text += page[i] == '&' ? reference->second : page[i];
        i += page[i] == '&' ? reference->first.size() : 1;
    }
    fuzzCheck(text == path);
    return 0;
}
