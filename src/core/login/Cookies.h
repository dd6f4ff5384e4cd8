#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The cookies of one router, held in memory only for one spider run or one polling session and
// never written anywhere. The router session stores what the router's answers set and sends it
// back to the router alone, as a browser would: by path, the longest path first, a cookie set
// again replacing the one before, one whose Max-Age or Expires has passed removed. Attributes
// other than Path, Max-Age and Expires (Domain, Secure, HttpOnly, SameSite) change nothing for a
// store that serves one router.
class CCookieJar {
public:
    // No router keeps more for a login; past these a cookie is not kept.
    static constexpr std::size_t kMaxCookies = 32;
    static constexpr std::size_t kMaxCookieBytes = 4096;  // its name and value

    // Takes one Set-Cookie value of an answer to a request for `requestPath` (no query).
    // `now` is when the answer came, for Max-Age and Expires.
    void Store(std::string_view setCookie, std::string_view requestPath,
               std::time_t now = std::time(nullptr));
    // The Cookie line, ended by CR LF, for a request for `requestPath`, or the empty text.
    std::string HeaderFor(std::string_view requestPath, std::time_t now = std::time(nullptr)) const;
    std::size_t Size() const { return m_cookies.size(); }
    void Clear() { m_cookies.clear(); }

private:
    struct Cookie {
        std::string name;
        std::string value;
        std::string path;
        std::time_t expires = 0;  // 0: at the end of the session
    };
    std::vector<Cookie> m_cookies;  // in the order first set
};
