#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How requests reach the router and are let in: all that a request to it carries besides the
// path of the page. A run's is built once, before the run starts, and every request of the run
// reads it in place.
struct RouterAccess {
    std::uint32_t nAddress = 0;  // host order
    std::uint16_t nPort = 0;
    std::string strHeaders{};  // complete header lines sent with each request: the authorization
    // The login and password as the user gave them, held in memory only: what a Digest answer
    // and the router's login form are made of.
    std::string strLogin{};
    std::string strPassword{};
    // Over https, the router trusted by its key alone (see KnownRouters.h): the key remembered in
    // strKnownRouters for its address and port, or, with bTrustNewKey, the one it shows first.
    bool bHttps = false;
    std::string strKnownRouters{};  // empty: no key is remembered, none is written
    bool bTrustNewKey = false;

    // The URL of `path` on the router (see ComposeRouterUrl), or the empty text when it would be
    // too long.
    std::string Url(std::string_view path) const;
    // "http" or "https".
    const char* Scheme() const { return bHttps ? "https" : "http"; }
    // Where the plain router sent a request to https on its own address: there from now on, on
    // that port. True when it moved; never back to http.
    bool MoveToHttps(const std::string& url);
};
