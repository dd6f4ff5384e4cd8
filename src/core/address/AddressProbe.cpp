#include "core/address/AddressProbe.h"

#include <cstdint>

#include "core/address/AddressScan.h"
#include "core/address/Exclusions.h"
#include "core/net/HttpFetch.h"

bool FindAcceptableAddress(const char* text, bool allowReserved, std::string_view exclusions,
                           std::string& result) {
    const CExclusionList excluded(std::string(exclusions).c_str());
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
        if (excluded.Matches(address)) {
            continue;
        }
        result.assign(candidate);
        return true;
    }
    return false;
}

bool ProbeAddress(const std::string& url, std::string_view login, std::string_view password,
                  bool allowReserved, std::string_view exclusions, std::string& result,
                  const FetchOptions& options, std::string* why) {
    const auto fail = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return false;
    };
    InternetHandle internet = OpenInternetHandle(options);
    if (!internet) {
        return fail("failed");
    }
    const std::string headers = BuildAuthorizationHeader(login, password);
    PageRequest request = OpenPage(*internet, url, headers);
    if (!request) {
        const std::string failure = LastFetchFailure(*internet);
        return fail(failure.empty() ? "failed" : failure);
    }
    const std::optional<std::string> text = ReadWholeResponse(*request);
    request.reset();
    if (!text) {
        const std::string failure = LastFetchFailure(*internet);
        return fail(failure.empty() ? "empty page" : failure);
    }
    internet.reset();
    if (!FindAcceptableAddress(text->c_str(), allowReserved, exclusions, result)) {
        return fail("no address in the page");
    }
    return true;
}
