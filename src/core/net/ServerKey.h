#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// An https router is trusted by its public key alone, as ssh trusts a host key: the certificate's
// names, dates and chain are never checked, so that a router's own self-signed certificate serves.

// The key a TLS handshake showed, and what its certificate says of it, for people to judge.
struct ServerKey {
    std::string pin;  // "sha256//BASE64": SHA-256 of the SubjectPublicKeyInfo; empty: none read
    std::string subject{};    // one line, "CN = router.home.arpa"
    std::string notBefore{};  // "Dec  8 04:41:20 2026 GMT"
    std::string notAfter{};
};

// The key of the first certificate in `pem`; a ServerKey with an empty pin when there is none.
ServerKey ServerKeyOfPem(std::string_view pem);

// Which keys https servers may show. Owned by the caller of a fetch, used on its thread.
class ITlsTrust {
public:
    virtual ~ITlsTrust() = default;
    // The pin `host` (as the URL writes it) on `port` must show; empty when none is known.
    virtual std::string KnownPin(const std::string& host, std::uint16_t port) = 0;
    // The handshake with a host whose pin is not known showed `key`, before any request was sent:
    // true lets the exchange go on, the key trusted from then on; false ends it, nothing sent.
    virtual bool TrustNewKey(const std::string& host, std::uint16_t port, const ServerKey& key) = 0;
    // The handshake showed `key` where `pin` was known, and the exchange ended before any request.
    virtual void KeyChanged(const std::string& host, std::uint16_t port, const ServerKey& key,
                            const std::string& pin) = 0;
};
