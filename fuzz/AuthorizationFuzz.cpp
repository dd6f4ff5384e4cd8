// BuildAuthorizationHeader and the Base64 encoder under it, for any login and password.
//
// Input: byte 0 gives the login's length (cut to what follows); the login is that many bytes, the
// password the rest.
//
// Invariants: the header is empty exactly when both are empty; otherwise it is "Authorization:
// Basic " + Base64 + CR LF CR LF, the Base64 being well-formed (alphabet, padding only at its end,
// a multiple of four, no CR or LF) and decoding to the credentials as the code joins them:
// "login:password", or the one that is not empty. The encoder takes a C string, so that text ends
// at its first NUL. The encoder on its own writes a CR LF after every 76 characters.

#include "FuzzCheck.h"
#include "core/net/Base64Encoder.h"
#include "core/net/HttpFetch.h"

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Strict Base64 decoding; traps on anything malformed.
std::string Decode(std::string_view text) {
    FUZZ_CHECK(text.size() % 4 == 0);
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const std::size_t digit = kAlphabet.find(text[i]);
        FUZZ_CHECK(digit != std::string_view::npos);
        bits = (bits << 6) | static_cast<std::uint32_t>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    FUZZ_CHECK((bits & ((1u << count) - 1)) == 0);  // the unused low bits are zero
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view rest = AsText(data + 1, size - 1);
    const std::string_view login = rest.substr(0, data[0]);
    const std::string_view password = rest.substr(login.size());

    const std::string header = BuildAuthorizationHeader(login, password);
    FUZZ_CHECK(header.empty() == (login.empty() && password.empty()));
    if (header.empty()) {
        return 0;
    }
    constexpr std::string_view kPrefix = "Authorization: Basic ";
    constexpr std::string_view kSuffix = "\r\n\r\n";
    FUZZ_CHECK(header.starts_with(kPrefix) && header.ends_with(kSuffix));
    const std::string_view encoded = std::string_view(header).substr(
        kPrefix.size(), header.size() - kPrefix.size() - kSuffix.size());
    FUZZ_CHECK(encoded.find_first_of("\r\n") == std::string_view::npos);

    std::string credentials;
    if (!login.empty() && !password.empty()) {
        credentials = std::string(login) + ":" + std::string(password);
    } else {
        credentials = login.empty() ? password : login;
    }
    const std::string_view sent = UpToNul(credentials);
    FUZZ_CHECK(Decode(encoded) == sent);

    // The encoder's own text: the same Base64 with CR LF after every 76 characters.
    CBase64Encoder encoder;
    FUZZ_CHECK(encoder.Encode(credentials.c_str()));
    const std::string lines = encoder.GetText();
    encoder.Release();
    std::string expected;
    for (std::size_t at = 0; at < encoded.size(); at += 76) {
        expected.append(encoded.substr(at, 76));
        if (at + 76 <= encoded.size()) {
            expected += "\r\n";
        }
    }
    FUZZ_CHECK(lines == expected);
    return 0;
}
