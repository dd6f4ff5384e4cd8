// The exclusion list: NormalizeExclusions and matching.
//
// Input: bytes 0-3 and 4-7 are two addresses (host order, big-endian), byte 8 a wildcard mask
// (bit i turns octet i into "*"), the rest the exclusion text.
//
// Normalising is idempotent; it only removes spaces and hyphens (taking the rest out of both
// texts leaves the same text) and never lengthens; its output has no hyphen at either end, and
// every hyphen in it stands between two characters that are neither space nor hyphen, the one
// after it ASCII.
//
// Normalising may change what a text matches, on purpose: "a - b" is the entries "a", "-", "b",
// its normalised "a-b" one range (see ExclusionsTest). So matching is checked against what the
// header promises, for the raw text and its normalised form alike: CExclusionList and
// IsExcludedAddress match exactly the addresses that some entry matches (a run of digits, dots,
// "*" and "-" in the text before its first NUL) through MatchAddressPattern, or through
// MatchAddressRange for an entry with a hyphen, split at the first one; joining two texts with a
// separator matches the union; a dotted address, as a pattern with any octets made "*", matches
// exactly the addresses that agree with it on the other octets; and "low-high" of two dotted
// addresses matches exactly those from low to high.

#include <arpa/inet.h>

#include <algorithm>
#include <array>

#include "FuzzCheck.h"
#include "core/address/Exclusions.h"

namespace {

bool IsEntryChar(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '*';
}

// What the text matches, entry by entry, through the single-pattern and range functions.
bool MatchesSomeEntry(std::uint32_t address, std::string_view text) {
    text = UpToNul(text);
    bool bMatched = false;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!IsEntryChar(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && IsEntryChar(text[end])) {
            ++end;
        }
        const std::string_view entry = text.substr(at, end - at);
        at = end;
        const std::size_t dash = entry.find('-');
        bMatched |= dash == std::string_view::npos
                        ? MatchAddressPattern(address, entry)
                        : MatchAddressRange(address, entry.substr(0, dash), entry.substr(dash + 1));
    }
    return bMatched;
}

constexpr std::size_t kProbes = 6;
using Probes = std::array<std::uint32_t, kProbes>;  // network order

// Bit i set when the text excludes probe i, checked three ways: the compiled list,
// IsExcludedAddress and entry by entry.
unsigned ListMatches(const Probes& probes, const std::string& text) {
    const CExclusionList list(text.c_str());
    unsigned matched = 0;
    for (std::size_t i = 0; i < kProbes; ++i) {
        const bool bList = list.Matches(probes[i]);
        FUZZ_CHECK(MatchesSomeEntry(probes[i], text) == bList);
        matched |= static_cast<unsigned>(bList) << i;
    }
    FUZZ_CHECK(IsExcludedAddress(probes[0], text.c_str()) == (matched & 1));
    return matched;
}

std::string WithoutSpacesAndHyphens(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '-') {
            out += c;
        }
    }
    return out;
}

void CheckNormalized(const std::string& raw, const std::string& normalized) {
    FUZZ_CHECK(normalized.size() <= raw.size());
    FUZZ_CHECK(WithoutSpacesAndHyphens(raw) == WithoutSpacesAndHyphens(normalized));
    for (std::size_t i = 0; i < normalized.size(); ++i) {
        if (normalized[i] != '-') {
            continue;
        }
        FUZZ_CHECK(i > 0 && i + 1 < normalized.size());
        FUZZ_CHECK(normalized[i - 1] != ' ' && normalized[i - 1] != '-');
        const auto after = static_cast<unsigned char>(normalized[i + 1]);
        FUZZ_CHECK(after != ' ' && after != '-' && after >= 1 && after <= 127);
    }
    std::string again = normalized;
    NormalizeExclusions(again);
    FUZZ_CHECK(again == normalized);
}

// The dotted address with the octets whose bit is set in `wildcards` (bit 0: first octet) as "*".
std::string Pattern(std::uint32_t host, unsigned wildcards) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            out += '.';
        }
        out += (wildcards >> i & 1) != 0 ? "*" : std::to_string(host >> (24 - 8 * i) & 0xFF);
    }
    return out;
}

bool AgreesOutsideWildcards(std::uint32_t a, std::uint32_t b, unsigned wildcards) {
    for (int i = 0; i < 4; ++i) {
        const int shift = 24 - 8 * i;
        if ((wildcards >> i & 1) == 0 && (a >> shift & 0xFF) != (b >> shift & 0xFF)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t head[9] = {};
    std::copy(data, data + std::min<std::size_t>(size, 9), head);
    const std::uint32_t a = ReadHost(head);
    const std::uint32_t b = ReadHost(head + 4);
    const unsigned wildcards = head[8] & 0x0F;
    const std::string raw(size > 9 ? AsText(data + 9, size - 9) : std::string_view());

    std::string normalized = raw;
    NormalizeExclusions(normalized);
    CheckNormalized(raw, normalized);

    const std::uint32_t hosts[kProbes] = {a, b, a + 1, a - 1, b + 1, b - 1};
    Probes probes{};
    for (std::size_t i = 0; i < kProbes; ++i) {
        probes[i] = htonl(hosts[i]);
    }
    ListMatches(probes, raw);
    ListMatches(probes, normalized);
    const std::string first = raw.substr(0, raw.size() / 2);
    const std::string second = raw.substr(raw.size() / 2);
    FUZZ_CHECK(ListMatches(probes, std::string(UpToNul(first)) + ";" + second) ==
               (ListMatches(probes, first) | ListMatches(probes, second)));

    const unsigned patternMatches = ListMatches(probes, Pattern(a, wildcards));
    const std::uint32_t low = std::min(a, b);
    const std::uint32_t high = std::max(a, b);
    const unsigned rangeMatches = ListMatches(probes, Dotted(low) + "-" + Dotted(high));
    for (std::size_t i = 0; i < kProbes; ++i) {
        const std::uint32_t host = hosts[i];
        FUZZ_CHECK((patternMatches >> i & 1) == AgreesOutsideWildcards(a, host, wildcards));
        const bool bInRange = low <= host && host <= high;
        FUZZ_CHECK((rangeMatches >> i & 1) == bInRange);
        FUZZ_CHECK(MatchAddressRange(probes[i], Dotted(low), Dotted(high)) == bInRange);
    }
    return 0;
}
