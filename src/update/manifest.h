// Reading the release manifest that the update server answers with.
#pragma once

#include <optional>
#include <string>

#include "platform/http_client.h"
#include "platform/result.h"

namespace lorvane {

// The newest release's version named by the manifest in `response`, or a failure saying which
// rule the answer broke. The rules are tried in a fixed order, so an answer that breaks several
// always reports the first: no answer at all; a status other than exactly 200; no body; a body
// that is not JSON; a top level that is not an object; no member "version"; a "version" that is
// not a string (a JSON number such as 1.4 included). Other members are ignored.
Result<std::string> readManifestVersion(const Result<HttpResponse>& response);

}  // namespace lorvane
