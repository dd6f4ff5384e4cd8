#include "core/address/AddressProbe.h"

#include <algorithm>
#include <cstdint>

#include "core/address/AddressScan.h"
#include "core/address/Exclusions.h"
#include "core/net/HttpFetch.h"

namespace {
// A page may repeat an excluded address endlessly; a reason names a few.
constexpr std::size_t kExcludedShown = 3;
}  // namespace

bool FindAcceptableAddress(const char* text, bool allowReserved, std::string_view exclusionText,
                           std::string& result, std::vector<std::string>* excluded) {
    const CExclusionList exclusions(std::string(exclusionText).c_str());
    const char* cursor = text;
    std::string token;
    while (GetNextToken(cursor, kAddressChars, token)) {
        const std::size_t last = token.find_last_not_of('.');
        if (last == std::string::npos) {
            continue;
        }
        const std::size_t first = token.find_first_not_of('.');
        const std::string_view candidate = std::string_view(token).substr(first, last + 1 - first);
        std::uint32_t address = 0;
        if (!ParseIPAddress(candidate, &address)) {
            continue;
        }
        if (!allowReserved && IsReservedAddress(address)) {
            continue;
        }
        if (exclusions.Matches(address)) {
            if (excluded != nullptr && excluded->size() < kExcludedShown &&
                std::find(excluded->begin(), excluded->end(), candidate) == excluded->end()) {
                excluded->emplace_back(candidate);
            }
            continue;
        }
        result.assign(candidate);
        return true;
    }
    return false;
}

bool ProbeAnswer(CInternetHandle& internet, PageRequest request, bool allowReserved,
                 std::string_view exclusions, std::string& result, ProbeFailure* failure) {
    long status = 0;
    const auto fail = [failure, &status](std::string reason, FetchError error = FetchError::None) {
        if (failure != nullptr) {
            *failure = {std::move(reason), status, error};
        }
        return false;
    };
    if (!request) {
        const std::string reason = LastFetchFailure(internet);
        const FetchError error = LastFetchError(internet);
        return fail(reason.empty() ? "failed" : reason,
                    error == FetchError::None ? FetchError::Failed : error);
    }
    status = LastResponseStatus(internet);
    const std::optional<std::string> text = ReadWholeResponse(*request);
    request.reset();
    if (!text) {
        const std::string reason = LastFetchFailure(internet);
        return reason.empty() ? fail("empty page") : fail(reason, LastFetchError(internet));
    }
    std::vector<std::string> excluded;
    if (!FindAcceptableAddress(text->c_str(), allowReserved, exclusions, result, &excluded)) {
        if (excluded.empty()) {
            return fail("no address in the page");
        }
        std::string list;
        for (const std::string& address : excluded) {
            list += (list.empty() ? "" : ", ") + address;
        }
        return fail("only excluded addresses (" + list + ")");
    }
    return true;
}

bool ProbeAddress(const std::string& url, std::string_view login, std::string_view password,
                  bool allowReserved, std::string_view exclusions, std::string& result,
                  const FetchOptions& options, ProbeFailure* failure) {
    InternetHandle internet = OpenInternetHandle(options);
    if (!internet) {
        if (failure != nullptr) {
            *failure = {"failed", 0, FetchError::Failed};
        }
        return false;
    }
    PageRequest request = OpenPage(*internet, url, BuildAuthorizationHeader(login, password));
    return ProbeAnswer(*internet, std::move(request), allowReserved, exclusions, result, failure);
}
