#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/AbortSignal.h"
#include "core/net/ServerKey.h"

// Plain HTTP GET of router pages and detection-server pages.
//
// An Internet handle is one reusable connection cache: every page requested on it may reuse the
// kept-alive connection of the page before. A page request carries the finished transfer; its
// body is read with ReadWholeResponse. The status code never decides what is a page: a 401 or
// 404 body is page text like any other, and so is an HTTP/0.9 answer or a body cut short of its
// announced length; LastResponseStatus tells it to those who judge the answer (a refused login).
// Paths go out exactly as given, dot segments included; everything goes over IPv4.
//
// Redirects (301, 302, 303, 307 and 308; at most kMaxRedirects) are followed here rather than by
// the library, so that the header text goes with every hop to the scheme, host and port of the
// first request and to nothing else, however often the chain comes back to it: the router's
// password must not reach a third party. The one move it follows is from http to https on the
// same host, any port, which then takes the first request's place: nothing goes back to http. Any
// other answer, a 300 or 304 with a Location included, is the page itself.
//
// https is used only with FetchOptions::trust, which knows the key each host must show (sent to
// the library as the pinned public key) and decides on a key not known yet once the handshake has
// shown it, before any request is sent. Certificate names, dates and chains are not checked: the
// key is the trust.

inline constexpr const char* kUserAgent = "Velmo/1.0";
inline constexpr std::size_t kMaxResponseBytes = 16u * 1024u * 1024u;
inline constexpr int kMaxRedirects = 10;

// Why a request gave no page, or a page only in part.
enum class FetchError {
    None,
    Refused,          // the host refused the connection (ECONNREFUSED)
    CouldNotConnect,  // no connection for another reason: the network or host unreachable…
    TimedOut,
    NameNotFound,
    Cancelled,
    NoAnswer,
    ConnectionDropped,
    TooManyRedirects,
    NotHttp,
    TooLarge,    // the body passed FetchOptions::maxBodyBytes
    Untrusted,   // the https host showed a key not known, which the trust refused: nothing sent
    KeyChanged,  // the https host showed another key than the one known: nothing sent
    Failed,
};

struct HttpTimeouts {
    std::chrono::milliseconds connect{10000};     // name lookup and TCP connect
    std::chrono::milliseconds stall{10000};       // nothing received for this long (no header line,
                                                  // no piece of body) ends a transfer
    std::chrono::milliseconds total{60000};       // no request runs longer, however it trickles
    std::chrono::milliseconds cancelGrace{1000};  // a cancelled transfer may still end this soon
};

// One exchange of a request and its answer (each redirect hop is one), for --verbose traces.
struct RequestTrace {
    std::string url;
    const char* method = "GET";
    long status = 0;        // 0: no answer
    std::size_t bytes = 0;  // of the body
    std::chrono::milliseconds took{};
    std::string failure;  // why the exchange gave no whole answer; empty when it did
};
using RequestHook = std::function<void(const RequestTrace& trace)>;

// How the transfers of one Internet handle give up: the program keeps the default time-outs, tests
// shorten them. A set abort signal ends the transfer in flight at once, as a failed read; a set
// cancel flag lets it finish when it does within timeouts.cancelGrace, so that a page nearly read
// still counts.
struct FetchOptions {
    HttpTimeouts timeouts{};
    CAbortSignal abort{};
    // "name:port:address[,address…]" entries answered without the resolver, so that tests can
    // give a name both an IPv6 and an IPv4 loopback address.
    std::vector<std::string> pinnedAddresses{};
    const std::atomic<bool>* cancel = nullptr;  // owned elsewhere; outlives every transfer
    // The router's handles go straight to it whatever http_proxy says: a proxy must never see the
    // router's password. Detection servers honour http_proxy and no_proxy.
    bool bDirect = false;
    RequestHook onRequest{};                       // sees every exchange once it has ended
    std::size_t maxBodyBytes = kMaxResponseBytes;  // a longer body ends its transfer: TooLarge
    ITlsTrust* trust = nullptr;                    // owned elsewhere; without it, http alone
};

class CInternetHandle;
class CPageRequest;

// What a router session adds to each exchange of a request and learns from its answer: cookies and
// Digest answers, which depend on the exchange's own URL (see login/RouterSession.h). Every hop of
// a redirect chain is handed to it, whatever its host; it alone decides which hosts see what it
// adds.
class IExchangeHook {
public:
    virtual ~IExchangeHook() = default;
    // Header lines, each ended by CR LF, to send with `method` to `url` as it goes on the wire.
    virtual std::string HeadersFor(std::string_view method, const std::string& url) = 0;
    // The status and header lines (folded, without CR LF) of the answer to that exchange; at most
    // kMaxAnswerHeaderBytes of them.
    virtual void Answered(const std::string& url, long status,
                          const std::vector<std::string>& headers) = 0;
    // True when the query of the exchange's URLs holds a secret (a login form sent by GET): the
    // trace of its requests shows "?..." in its place.
    virtual bool HidesQuery() const { return false; }
};
inline constexpr std::size_t kMaxAnswerHeaderBytes = 64u * 1024u;

struct InternetHandleDeleter {
    void operator()(CInternetHandle* handle) const;
};
struct PageRequestDeleter {
    void operator()(CPageRequest* request) const;
};
using InternetHandle = std::unique_ptr<CInternetHandle, InternetHandleDeleter>;
using PageRequest = std::unique_ptr<CPageRequest, PageRequestDeleter>;

// Null on failure, an option the HTTP library refuses included.
InternetHandle OpenInternetHandle(const FetchOptions& options = {});

// One GET of `url` with `headers` (empty, or complete header lines ended by CR LF). Null when no
// response arrived at all: unreachable host, refused, time-out, not an http URL, a redirect loop
// or a redirect away from http. However the server trickles, the request ends within
// HttpTimeouts::total, redirects included.
// `hook`, when given, takes part in each exchange, and the request goes straight to the host.
PageRequest OpenPage(CInternetHandle& handle, const std::string& url, std::string_view headers,
                     IExchangeHook* hook = nullptr);

// One POST of `body` to `url` with `headers`, as OpenPage does a GET, except that a redirect is
// not followed: its answer is the page.
PageRequest PostPage(CInternetHandle& handle, const std::string& url, std::string_view headers,
                     std::string_view body, IExchangeHook* hook = nullptr);

// Why the last request on `handle` gave no page, for people: "refused", "could not connect",
// "timed out", "name not found", "too large", "cancelled", "connection dropped"…, followed by the
// HTTP library's own message in parentheses where it has one. Empty when the last page was read
// whole.
std::string LastFetchFailure(const CInternetHandle& handle);
// The same as a code, for callers that branch on it.
FetchError LastFetchError(const CInternetHandle& handle);

// The HTTP status of the last answer on `handle` (after redirects), or 0 when none came.
long LastResponseStatus(const CInternetHandle& handle);

// The URL of the last exchange on `handle`: the first request's, or where its redirects led.
const std::string& LastUrl(const CInternetHandle& handle);

// The key the last TLS handshake on `handle` showed, a refused one included; an empty pin when
// none did.
const ServerKey& LastServerKey(const CInternetHandle& handle);

// The body as one text, or nullopt when a read failed part-way (`error` tells why: TooLarge past
// kMaxResponseBytes) or the body was empty (error None). A chunk of the body holds text only up to
// its first NUL byte, as a C string would.
std::optional<std::string> ReadWholeResponse(CPageRequest& request, FetchError* error = nullptr);

// The URL as it goes on the request line. Composed URLs copy link text unchanged, which may hold
// bytes a request line cannot carry: those (space, controls, non-ASCII, quotes, angle brackets)
// become %XX, and a "%" that starts no %XX escape becomes %25, so the server reads the page the
// text names. Valid escapes pass unchanged.
std::string EscapeRequestUrl(std::string_view url);

// Base64 of login and password as one "Authorization: Basic" line and an empty line, or the empty
// text when both are empty.
std::string BuildAuthorizationHeader(std::string_view login, std::string_view password);
