#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the WWW-Authenticate lines of a 401 offer: Basic, and a Digest challenge that can be
// answered (algorithm MD5, MD5-sess, SHA-256 or SHA-256-sess; quality of protection "auth" or
// none). Of several Digest challenges, SHA-256 is taken before MD5.
struct AuthChallenges {
    bool bBasic = false;
    bool bDigest = false;
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm;  // as the router named it; empty for MD5
    bool bQopAuth = false;
    bool bStale = false;  // the nonce only has expired: the same credentials are to be sent anew
};

// The challenges among the header lines of an answer (folded, without CR LF).
AuthChallenges ParseChallenges(const std::vector<std::string>& headers);

// Answers a Digest challenge for every request that follows it, counting its nonce's uses.
class CDigestAnswer {
public:
    void Take(const AuthChallenges& challenge);
    bool Has() const { return !m_challenge.nonce.empty(); }
    // The Authorization line, ended by CR LF, for `method` of `uri` (the request target).
    std::string Header(std::string_view login, std::string_view password, std::string_view method,
                       std::string_view uri);

private:
    AuthChallenges m_challenge;
    std::uint32_t m_nCount = 0;
    std::string m_strCnonce;
};
