#include "core/login/Digest.h"

#include <cstdio>
#include <random>

#include "core/login/Hash.h"
#include "core/text/Ascii.h"

namespace {

constexpr bool IsTokenChar(char c) {
    return c > 0x20 && c < 0x7F && c != ',' && c != '=' && c != '"' && c != ';';
}

struct Challenge {
    std::string scheme;
    std::vector<std::pair<std::string, std::string>> params;

    std::string Param(std::string_view name) const {
        for (const auto& [key, value] : params) {
            if (EqualsNoCase(key, name)) {
                return value;
            }
        }
        return {};
    }
};

// `Digest realm="a", nonce="b", Basic realm="c"`: a scheme starts each challenge, and
// name=value pairs (values bare or quoted) belong to the one before.
void ParseLine(std::string_view line, std::vector<Challenge>& challenges) {
    std::size_t at = 0;
    const auto skipGaps = [&] {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == ',')) {
            ++at;
        }
    };
    while (true) {
        skipGaps();
        if (at >= line.size()) {
            return;
        }
        const std::size_t start = at;
        while (at < line.size() && IsTokenChar(line[at])) {
            ++at;
        }
        if (at == start) {
            ++at;  // a stray character
            continue;
        }
        std::string token(line.substr(start, at - start));
        std::size_t look = at;
        while (look < line.size() && (line[look] == ' ' || line[look] == '\t')) {
            ++look;
        }
        if (look >= line.size() || line[look] != '=' || challenges.empty()) {
            challenges.push_back({std::move(token), {}});  // a new scheme
            continue;
        }
        at = look + 1;
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        std::string value;
        if (at < line.size() && line[at] == '"') {
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && at + 1 < line.size()) {
                    ++at;
                }
                value += line[at];
            }
            ++at;
        } else {
            while (at < line.size() && line[at] != ',') {
                value += line[at++];
            }
            value = std::string(Trimmed(value));
        }
        challenges.back().params.emplace_back(std::move(token), std::move(value));
    }
}

bool IsSha256(std::string_view algorithm) {
    return EqualsNoCase(algorithm, "SHA-256") || EqualsNoCase(algorithm, "SHA-256-sess");
}

bool Answerable(const Challenge& challenge) {
    const std::string algorithm = challenge.Param("algorithm");
    const std::string qop = challenge.Param("qop");
    bool bQop = qop.empty();
    for (std::size_t start = 0; !bQop && start <= qop.size();) {
        const std::size_t end = std::min(qop.find(',', start), qop.size());
        bQop = EqualsNoCase(Trimmed(std::string_view(qop).substr(start, end - start)), "auth");
        start = end + 1;
    }
    return !challenge.Param("nonce").empty() && bQop &&
           (algorithm.empty() || EqualsNoCase(algorithm, "MD5") ||
            EqualsNoCase(algorithm, "MD5-sess") || IsSha256(algorithm));
}

// A quoted-string's text: quotes and backslashes escaped, and no line break.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

}  // namespace

AuthChallenges ParseChallenges(const std::vector<std::string>& headers) {
    std::vector<Challenge> challenges;
    for (const std::string& header : headers) {
        if (StartsWithNoCase(header, "www-authenticate:")) {
            ParseLine(std::string_view(header).substr(17), challenges);
        }
    }
    AuthChallenges offered;
    const Challenge* digest = nullptr;
    for (const Challenge& challenge : challenges) {
        if (EqualsNoCase(challenge.scheme, "Basic")) {
            offered.bBasic = true;
        } else if (EqualsNoCase(challenge.scheme, "Digest") && Answerable(challenge) &&
                   (digest == nullptr || (IsSha256(challenge.Param("algorithm")) &&
                                          !IsSha256(digest->Param("algorithm"))))) {
            digest = &challenge;
        }
    }
    if (digest != nullptr) {
        offered.bDigest = true;
        offered.realm = digest->Param("realm");
        offered.nonce = digest->Param("nonce");
        offered.opaque = digest->Param("opaque");
        offered.algorithm = digest->Param("algorithm");
        offered.bQopAuth = !digest->Param("qop").empty();
        offered.bStale = EqualsNoCase(digest->Param("stale"), "true");
    }
    return offered;
}

void CDigestAnswer::Take(const AuthChallenges& challenge) {
    m_challenge = challenge;
    m_nCount = 0;
    std::random_device random;
    char cnonce[17];
    std::snprintf(cnonce, sizeof cnonce, "%08x%08x", random(), random());
    m_strCnonce = cnonce;
}

std::string CDigestAnswer::Header(std::string_view login, std::string_view password,
                                  std::string_view method, std::string_view uri) {
    const std::string& algorithm = m_challenge.algorithm;
    const auto hash = [&](std::string_view text) {
        return IsSha256(algorithm) ? Sha256Hex(text) : Md5Hex(text);
    };
    const std::string& nonce = m_challenge.nonce;
    std::string ha1 =
        hash(std::string(login) + ':' + m_challenge.realm + ':' + std::string(password));
    if (algorithm.size() > 5 &&
        EqualsNoCase(std::string_view(algorithm).substr(algorithm.size() - 5), "-sess")) {
        ha1 = hash(ha1 + ':' + nonce + ':' + m_strCnonce);
    }
    const std::string ha2 = hash(std::string(method) + ':' + std::string(uri));
    char count[9];
    std::snprintf(count, sizeof count, "%08x", ++m_nCount);
    const std::string response =
        m_challenge.bQopAuth
            ? hash(ha1 + ':' + nonce + ':' + count + ':' + m_strCnonce + ":auth:" + ha2)
            : hash(ha1 + ':' + nonce + ':' + ha2);
    std::string line = "Authorization: Digest username=" + Quoted(login) +
                       ", realm=" + Quoted(m_challenge.realm) + ", nonce=" + Quoted(nonce) +
                       ", uri=" + Quoted(uri);
    if (!algorithm.empty()) {
        line += ", algorithm=" + algorithm;
    }
    line += ", response=" + Quoted(response);
    if (!m_challenge.opaque.empty()) {
        line += ", opaque=" + Quoted(m_challenge.opaque);
    }
    if (m_challenge.bQopAuth) {
        line += ", qop=auth, nc=" + std::string(count) + ", cnonce=" + Quoted(m_strCnonce);
    }
    return line + "\r\n";
}
