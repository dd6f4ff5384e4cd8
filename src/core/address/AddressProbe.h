#pragma once

#include <string>
#include <string_view>

#include "core/net/HttpFetch.h"

// The first acceptable address in `text`: a run of address characters, dots trimmed from both
// ends, that ParseIPAddress accepts, outside the reserved blocks unless `allowReserved`, and not
// matched by `exclusions`. `result` receives the text as it stood and is untouched when none is
// found.
bool FindAcceptableAddress(const char* text, bool allowReserved, std::string_view exclusions,
                           std::string& result);

// Fetches `url` on its own Internet handle and answers the first acceptable address of its body.
// Empty login, password or exclusions count as absent. On failure `why`, when given, tells the
// reason: the fetch's (LastFetchFailure), "empty page" or "no address in the page".
bool ProbeAddress(const std::string& url, std::string_view login, std::string_view password,
                  bool allowReserved, std::string_view exclusions, std::string& result,
                  const FetchOptions& options = {}, std::string* why = nullptr);
