// The voice-notes command: switching the loaded web application to its voice view.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/web_view.h"

namespace lorvane {

// Run in the page: sets view=voice in the page's address (keeping the other parameters and the
// fragment) through a pushed history entry that carries the current history state, then tells
// the page with a popstate event whose state is null. Returns no value.
inline constexpr std::string_view kVoiceViewScript =
    "(() => {\n"
    "  const next = new URL(window.location.href);\n"
    "  next.searchParams.set('view', 'voice');\n"
    "  window.history.pushState(window.history.state, '', next);\n"
    "  window.dispatchEvent(new PopStateEvent('popstate'));\n"
    "})();";

// The page relies on these exact bytes; a stray edit (a trailing line feed, tabs) would change it.
static_assert(kVoiceViewScript.size() == 217);

// The voice view loaded afresh from the local server at `appPort`, for when the page refuses
// the script. Same recipe as loading the web application: no local cache, 60-second time-out.
WebRequest voiceViewRequest(std::int64_t appPort);

}  // namespace lorvane
