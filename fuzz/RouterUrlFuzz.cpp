// Composing router URLs, splitting them, and escaping them for the request line.
//
// Input: bytes 0-3 are the address (host order, big-endian), bytes 4-5 the port, the rest the
// path.
//
// Invariants: ComposeRouterUrl gives exactly "http://a.b.c.d:port" + the path unchanged ("/" put
// in front when it lacks one) whenever that fits in kMaxUrlLength (checked at the limit itself for
// every address and port), and otherwise fails with the URL untouched. CrackUrlHost on the composed
// URL fails or gives back the dotted address and the port, never another host; on the escaped URL
// (what the request actually asks for) it must give them back. EscapeRequestUrl writes only
// printable ASCII other than space, quotes, angle brackets and the other unsafe characters, and no
// "%" that starts no %XX escape; it is idempotent, leaves clean text alone, and percent-decoding
// its output gives what percent-decoding its input gives. CrackUrlHost on any text either fails
// with its outputs untouched or gives a host of at most 255 characters.

#include "FuzzCheck.h"
#include "core/net/HttpFetch.h"
#include "core/net/RouterUrl.h"

namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool IsEscape(std::string_view text, std::size_t at) {
    return text[at] == '%' && at + 2 < text.size() && IsHex(text[at + 1]) && IsHex(text[at + 2]);
}

// Decodes every valid %XX escape and keeps every other byte as it is.
std::string PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (IsEscape(text, at)) {
            out += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
            at += 2;
        } else {
            out += text[at];
        }
    }
    return out;
}

// A byte the request line carries as it is.
bool IsSafe(char c) {
    return c > 0x20 && c < 0x7F &&
           std::string_view("\"<>\\^`{|}").find(c) == std::string_view::npos;
}

bool IsClean(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (!IsSafe(text[at]) || (text[at] == '%' && !IsEscape(text, at))) {
            return false;
        }
    }
    return true;
}

void CheckEscape(std::string_view text) {
    const std::string escaped = EscapeRequestUrl(text);
    FUZZ_CHECK(IsClean(escaped));
    FUZZ_CHECK(escaped.size() >= text.size());
    FUZZ_CHECK(EscapeRequestUrl(escaped) == escaped);
    FUZZ_CHECK(!IsClean(text) || escaped == text);
    FUZZ_CHECK(PercentDecode(escaped) == PercentDecode(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    CheckEscape(input);
    {
        std::string host = "untouched";
        std::uint16_t port = 1234;
        if (CrackUrlHost(std::string(input), host, port)) {
            FUZZ_CHECK(host.size() <= 255);
        } else {
            FUZZ_CHECK(host == "untouched" && port == 1234);
        }
    }
    if (size < 6) {
        return 0;
    }

    const std::uint32_t address = ReadHost(data);
    const auto port = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    const std::string_view path = input.substr(6);
    const std::string dotted = Dotted(address);
    const std::string origin = "http://" + dotted + ":" + std::to_string(port);
    const std::string expected = origin + (path.starts_with('/') ? "" : "/") + std::string(path);

    // Both sides of the limit, for this address and port.
    std::string fits = "/" + std::string(path.substr(path.starts_with('/') ? 1 : 0));
    fits.resize(kMaxUrlLength - origin.size(), 'p');
    std::string url = "untouched";
    FUZZ_CHECK(ComposeRouterUrl(address, port, fits, url) && url == origin + fits);
    FUZZ_CHECK(url.size() == kMaxUrlLength);
    url = "untouched";
    FUZZ_CHECK(!ComposeRouterUrl(address, port, fits + "p", url) && url == "untouched");

    const bool bComposed = ComposeRouterUrl(address, port, path, url);
    FUZZ_CHECK(bComposed == (expected.size() <= kMaxUrlLength));
    FUZZ_CHECK(url == (bComposed ? expected : "untouched"));
    if (!bComposed) {
        return 0;
    }

    std::string host;
    std::uint16_t crackedPort = 0;
    if (CrackUrlHost(url, host, crackedPort)) {
        FUZZ_CHECK(host == dotted && crackedPort == port);
    }
    const std::string request = EscapeRequestUrl(url);
    FUZZ_CHECK(request.starts_with(origin + "/"));
    host.clear();
    crackedPort = 0;
    FUZZ_CHECK(CrackUrlHost(request, host, crackedPort));
    FUZZ_CHECK(host == dotted && crackedPort == port);
    return 0;
}
