#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/net/HttpFetch.h"

// The first acceptable address in `text`: a run of address characters, dots trimmed from both
// ends, that ParseIPAddress accepts, outside the reserved blocks unless `allowReserved`, and not
// matched by `exclusions`. `result` receives the text as it stood and is untouched when none is
// found. `excluded`, when given, receives the first few candidates that only the exclusions
// refused, each once.
bool FindAcceptableAddress(const char* text, bool allowReserved, std::string_view exclusions,
                           std::string& result, std::vector<std::string>* excluded = nullptr);

// Why a probe found no address.
struct ProbeFailure {
    // The fetch's reason (LastFetchFailure), "empty page", "no address in the page" or "only
    // excluded addresses (A, B)".
    std::string why;
    long status = 0;                      // the HTTP status of the answer; 0 when none came
    FetchError error = FetchError::None;  // the fetch's, when the page was not read whole
};

// The first acceptable address of the answer `request` that came on `internet` (null: none came),
// as ProbeAddress judges it.
bool ProbeAnswer(CInternetHandle& internet, PageRequest request, bool allowReserved,
                 std::string_view exclusions, std::string& result, ProbeFailure* failure);

// Fetches `url` on its own Internet handle and answers the first acceptable address of its body.
// Empty login, password or exclusions count as absent. On failure `failure`, when given, tells
// why.
bool ProbeAddress(const std::string& url, std::string_view login, std::string_view password,
                  bool allowReserved, std::string_view exclusions, std::string& result,
                  const FetchOptions& options = {}, ProbeFailure* failure = nullptr);
