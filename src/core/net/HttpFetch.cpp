#include "core/net/HttpFetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "core/net/Base64Encoder.h"
#include "core/text/Ascii.h"

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr auto kPollInterval = std::chrono::milliseconds(50);

using Clock = std::chrono::steady_clock;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// Where a URL leads: scheme and host (letter case aside) as written, and port. All empty or 0 for
// a text that is no absolute URL.
struct Origin {
    std::string scheme;
    std::string host;
    std::uint16_t port = 0;
    bool operator==(const Origin&) const = default;
    bool IsHttps() const { return scheme == "https"; }
};

Origin UrlOrigin(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(),
                                CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return {};
    }
    Origin origin;
    for (const auto& [part, text] :
         {std::pair{CURLUPART_SCHEME, &origin.scheme}, std::pair{CURLUPART_HOST, &origin.host}}) {
        char* value = nullptr;
        if (curl_url_get(handle.get(), part, &value, 0) != CURLUE_OK) {
            return {};
        }
        *text = AsciiLowered(value);
        curl_free(value);
    }
    char* port = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        origin.port = static_cast<std::uint16_t>(std::strtoul(port, nullptr, 10));
        curl_free(port);
    }
    return origin;
}

// The key of the certificate the last handshake of `easy` showed.
ServerKey ShownKey(CURL* easy) {
    curl_certinfo* chain = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CERTINFO, &chain) != CURLE_OK || chain == nullptr ||
        chain->num_of_certs < 1) {
        return {};
    }
    for (const curl_slist* field = chain->certinfo[0]; field != nullptr; field = field->next) {
        if (std::string_view(field->data).starts_with("Cert:")) {
            return ServerKeyOfPem(field->data + 5);
        }
    }
    return {};
}

// The caller's header lines, without any Authorization line when the request leaves the host the
// credentials were meant for.
Slist BuildHeaderList(std::string_view headers, bool bWithCredentials) {
    Slist list(curl_slist_append(nullptr, "Pragma: no-cache"));
    for (std::size_t start = 0; start < headers.size() && list;) {
        std::size_t end = headers.find("\r\n", start);
        if (end == std::string_view::npos) {
            end = headers.size();
        }
        const std::string_view line = headers.substr(start, end - start);
        if (!line.empty() && (bWithCredentials || !StartsWithNoCase(line, "authorization:"))) {
            curl_slist* grown = curl_slist_append(list.get(), std::string(line).c_str());
            if (grown == nullptr) {
                return nullptr;
            }
            list.release();
            list.reset(grown);
        }
        start = end + 2;
    }
    return list;
}

bool HoldsCredentials(std::string_view headers) {
    for (std::size_t start = 0; start < headers.size();) {
        const std::size_t end = std::min(headers.find("\r\n", start), headers.size());
        if (StartsWithNoCase(headers.substr(start, end - start), "authorization:")) {
            return true;
        }
        start = end + 2;
    }
    return false;
}

}  // namespace

class CPageRequest {
public:
    std::string body;
    FetchError error = FetchError::None;
};

class CInternetHandle {
public:
    explicit CInternetHandle(const FetchOptions& options) : m_options(options) {}
    ~CInternetHandle() {
        if (m_multi != nullptr) {
            curl_multi_cleanup(m_multi);
        }
        if (m_easy != nullptr) {
            curl_easy_cleanup(m_easy);
        }
    }
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;

    bool Init();
    // A GET, or with `postBody` a POST whose redirects are not followed.
    PageRequest Get(const std::string& url, std::string_view headers,
                    const std::string_view* postBody = nullptr, IExchangeHook* hook = nullptr);
    const std::string& LastFailure() const { return m_strFailure; }
    FetchError LastError() const { return m_lastError; }
    long LastStatus() const { return m_nStatus; }
    const std::string& LastUrl() const { return m_strUrl; }
    const ServerKey& LastKey() const { return m_key; }

private:
    // One request/response exchange, no redirect followed; the answer is left in m_body.
    CURLcode Transfer(const std::string& url, curl_slist* headers, Clock::time_point deadline,
                      const std::string_view* postBody);
    FetchError ErrorOf(CURLcode result) const;
    // Whether the cancel flag has stood longer than a transfer in flight may still run.
    bool CancelGraceOver(Clock::time_point now);

    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);

    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    FetchOptions m_options;
    Slist m_pinned;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    // State of the exchange in progress.
    Origin m_hop;
    std::string m_strPin;  // the key m_hop must show, when it is https and its key is known
    bool m_bKeyRefused = false;
    std::string m_body;
    std::vector<std::string> m_answerHeaders;  // for the hook: the answer's, once its status line
    std::size_t m_nAnswerHeaderBytes = 0;
    bool m_bAnswered = false;  // some byte of an answer arrived, status line or not
    bool m_bTooLarge = false;
    bool m_bConnected = false;
    Clock::time_point m_lastActivity;
    // When the request in progress first saw the cancel flag; its redirects share the grace.
    std::optional<Clock::time_point> m_cancelSeen;
    std::string m_strFailure;
    FetchError m_lastError = FetchError::None;
    long m_nStatus = 0;
    std::string m_strUrl;
    ServerKey m_key;
};

FetchError CInternetHandle::ErrorOf(CURLcode result) const {
    if (m_bTooLarge) {
        return FetchError::TooLarge;
    }
    if (m_bKeyRefused) {
        return FetchError::Untrusted;
    }
    switch (result) {
        case CURLE_OK:
            return FetchError::None;
        case CURLE_COULDNT_CONNECT: {
            // Said of any failed connect: only ECONNREFUSED is the host's refusal.
            long error = 0;
            curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &error);
            return error == ECONNREFUSED ? FetchError::Refused : FetchError::CouldNotConnect;
        }
        case CURLE_OPERATION_TIMEDOUT:
            return FetchError::TimedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return FetchError::NameNotFound;
        case CURLE_ABORTED_BY_CALLBACK:
            return FetchError::Cancelled;
        case CURLE_GOT_NOTHING:
            return FetchError::NoAnswer;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return FetchError::ConnectionDropped;
        case CURLE_TOO_MANY_REDIRECTS:
            return FetchError::TooManyRedirects;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return FetchError::NotHttp;
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return FetchError::KeyChanged;
        default:
            return FetchError::Failed;
    }
}

namespace {

const char* FailureWord(FetchError error) {
    switch (error) {
        case FetchError::None:
            return "";
        case FetchError::Refused:
            return "refused";
        case FetchError::CouldNotConnect:
            return "could not connect";
        case FetchError::TimedOut:
            return "timed out";
        case FetchError::NameNotFound:
            return "name not found";
        case FetchError::Cancelled:
            return "cancelled";
        case FetchError::NoAnswer:
            return "no answer";
        case FetchError::ConnectionDropped:
            return "connection dropped";
        case FetchError::TooManyRedirects:
            return "too many redirects";
        case FetchError::NotHttp:
            return "not an http URL";
        case FetchError::TooLarge:
            return "too large";
        case FetchError::Untrusted:
            return "untrusted key";
        case FetchError::KeyChanged:
            return "changed key";
        case FetchError::Failed:
            break;
    }
    return "failed";
}

// The answers whose Location is followed; a 300 lists choices and a 304 is no move at all.
bool IsFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

bool CInternetHandle::Init() {
    InitCurlOnce();
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
    if (m_easy == nullptr || m_multi == nullptr) {
        return false;
    }
    for (const std::string& entry : m_options.pinnedAddresses) {
        curl_slist* grown = curl_slist_append(m_pinned.get(), entry.c_str());
        if (grown == nullptr) {
            return false;
        }
        m_pinned.release();
        m_pinned.reset(grown);
    }
    // A handle missing any of these would break a promise (no redirect to https, credentials
    // kept from other hosts, Cancel held by a name lookup), so one refused option fails it.
    CURLcode result = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(m_easy, option, value);
        }
    };
    // The multi handle owns the connection cache, so keeping it for the handle's life keeps the
    // router's connection alive from one page to the next.
    set(CURLOPT_USERAGENT, kUserAgent);
    set(CURLOPT_NOSIGNAL, 1L);
    // Ending a transfer whose name lookup still runs must not wait for the lookup: without this
    // the resolver thread is joined, and a silent name server holds Cancel and every time limit.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_ERRORBUFFER, m_errorBuffer);
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_PROTOCOLS_STR, m_options.trust != nullptr ? "http,https" : "http");
    // The key is the trust (see OnConnected), not the certificate's names, dates or issuer.
    set(CURLOPT_SSL_VERIFYPEER, 0L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
    set(CURLOPT_CERTINFO, m_options.trust != nullptr ? 1L : 0L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    set(CURLOPT_HTTP09_ALLOWED, 1L);
    set(CURLOPT_RESOLVE, m_pinned.get());
    if (m_options.bDirect) {
        set(CURLOPT_PROXY, "");  // the empty text overrides http_proxy and all_proxy
    }
    set(CURLOPT_TCP_KEEPALIVE, 1L);
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.timeouts.connect.count()));
    set(CURLOPT_WRITEFUNCTION, &CInternetHandle::OnBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_HEADERFUNCTION, &CInternetHandle::OnHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_PREREQFUNCTION, &CInternetHandle::OnConnected);
    set(CURLOPT_PREREQDATA, static_cast<void*>(this));
    return result == CURLE_OK;
}

size_t CInternetHandle::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* handle = static_cast<CInternetHandle*>(self);
    const size_t n = size * count;
    handle->m_lastActivity = Clock::now();
    handle->m_bAnswered = true;
    if (handle->m_body.size() + n > handle->m_options.maxBodyBytes) {
        handle->m_bTooLarge = true;
        return 0;  // ends the transfer with a write error
    }
    handle->m_body.append(data, n);
    return n;
}

size_t CInternetHandle::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* handle = static_cast<CInternetHandle*>(self);
    handle->m_lastActivity = Clock::now();
    handle->m_bAnswered = true;
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    std::vector<std::string>& headers = handle->m_answerHeaders;
    if (StartsWithNoCase(line, "HTTP/")) {
        headers.clear();  // an interim answer's lines are not the answer's
        handle->m_nAnswerHeaderBytes = 0;
    } else if (!line.empty() &&
               handle->m_nAnswerHeaderBytes + line.size() <= kMaxAnswerHeaderBytes) {
        handle->m_nAnswerHeaderBytes += line.size();
        if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
            headers.back().append(" ").append(Trimmed(line));  // a folded line continues
        } else {
            headers.emplace_back(line);
        }
    }
    return size * count;
}

// Called once the connection is made, and the TLS handshake done, before the request is sent.
int CInternetHandle::OnConnected(void* self, char*, char*, int, int) {
    auto* handle = static_cast<CInternetHandle*>(self);
    handle->m_bConnected = true;
    handle->m_lastActivity = Clock::now();
    // A known key was checked by the library in the handshake; a new one is judged here.
    if (handle->m_hop.IsHttps() && handle->m_strPin.empty()) {
        handle->m_key = ShownKey(handle->m_easy);
        if (!handle->m_options.trust->TrustNewKey(handle->m_hop.host, handle->m_hop.port,
                                                  handle->m_key)) {
            handle->m_bKeyRefused = true;
            std::snprintf(handle->m_errorBuffer, sizeof handle->m_errorBuffer, "nothing was sent");
            return CURL_PREREQFUNC_ABORT;
        }
        handle->m_strPin = handle->m_key.pin;
    }
    return CURL_PREREQFUNC_OK;
}

bool CInternetHandle::CancelGraceOver(Clock::time_point now) {
    if (m_options.cancel == nullptr || !m_options.cancel->load()) {
        return false;
    }
    if (!m_cancelSeen) {
        m_cancelSeen = now;
    }
    return now - *m_cancelSeen >= m_options.timeouts.cancelGrace;
}

CURLcode CInternetHandle::Transfer(const std::string& url, curl_slist* headers,
                                   Clock::time_point deadline, const std::string_view* postBody) {
    m_body.clear();
    m_answerHeaders.clear();
    m_nAnswerHeaderBytes = 0;
    m_bAnswered = false;
    m_bTooLarge = false;
    m_bConnected = false;
    m_bKeyRefused = false;
    m_lastActivity = Clock::now();
    m_errorBuffer[0] = '\0';
    m_strUrl = url;
    m_hop = UrlOrigin(url);
    m_strPin = m_hop.IsHttps() && m_options.trust != nullptr
                   ? m_options.trust->KnownPin(m_hop.host, m_hop.port)
                   : std::string();

    CURLcode result = curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
    if (result == CURLE_OK) {
        result = curl_easy_setopt(m_easy, CURLOPT_PINNEDPUBLICKEY,
                                  m_strPin.empty() ? nullptr : m_strPin.c_str());
    }
    if (result == CURLE_OK) {
        result = curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, headers);
    }
    // A form goes out on a connection of its own: on a kept one that the router has closed the
    // library would send it, and the password in it, a second time.
    if (result == CURLE_OK) {
        result = curl_easy_setopt(m_easy, CURLOPT_FRESH_CONNECT, postBody != nullptr ? 1L : 0L);
    }
    if (result == CURLE_OK && postBody != nullptr) {
        result = curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(postBody->size()));
        if (result == CURLE_OK) {
            result = curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS,
                                      postBody->empty() ? "" : postBody->data());
        }
    }
    if (result != CURLE_OK) {
        return result;
    }
    result = CURLE_FAILED_INIT;
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
        return result;
    }
    const HttpTimeouts& timeouts = m_options.timeouts;
    int running = 1;
    while (true) {
        // Looked at before anything is sent, so that an abandoned run connects nowhere more.
        if (m_options.abort.IsSet()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_perform(m_multi, &running);
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
                if (msg->msg == CURLMSG_DONE) {
                    result = msg->data.result;
                }
            }
            break;
        }
        const Clock::time_point now = Clock::now();
        if (CancelGraceOver(now)) {
            result = CURLE_ABORTED_BY_CALLBACK;
            std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "not done %lld ms after the cancel",
                          static_cast<long long>(timeouts.cancelGrace.count()));
            break;
        }
        if (m_bConnected && now - m_lastActivity >= timeouts.stall) {
            result = CURLE_OPERATION_TIMEDOUT;
            std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "nothing received for %lld ms",
                          static_cast<long long>(timeouts.stall.count()));
            break;
        }
        // Each byte resets the stall limit, so a trickle or endless interim answers would
        // otherwise hold the request for ever.
        if (now >= deadline) {
            result = CURLE_OPERATION_TIMEDOUT;
            std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "no whole answer within %lld ms",
                          static_cast<long long>(timeouts.total.count()));
            break;
        }
        const auto wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(deadline - now),
                                     std::chrono::milliseconds(1), kPollInterval);
        curl_multi_poll(m_multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    // Removing an unfinished transfer closes its connection, so nothing half-read is reused.
    curl_multi_remove_handle(m_multi, m_easy);
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, nullptr);
    if (postBody != nullptr) {
        curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);  // the next request is a GET again
    }
    if (result == CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
        m_key = ShownKey(m_easy);
        m_options.trust->KeyChanged(m_hop.host, m_hop.port, m_key, m_strPin);
        std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "nothing was sent");
    } else if (m_hop.IsHttps() && result == CURLE_OK && m_key.pin != m_strPin) {
        m_key = {.pin = m_strPin};
    }
    // A body cut short of its announced length is still the page the server sent.
    return result == CURLE_PARTIAL_FILE ? CURLE_OK : result;
}

PageRequest CInternetHandle::Get(const std::string& url, std::string_view headers,
                                 const std::string_view* postBody, IExchangeHook* hook) {
    m_strFailure.clear();
    m_lastError = FetchError::None;
    m_nStatus = 0;
    m_key = {};
    m_cancelSeen.reset();
    // Credentials never pass through a proxy, whichever handle the caller gave them to.
    if (!m_options.bDirect && (HoldsCredentials(headers) || hook != nullptr)) {
        if (const CURLcode code = curl_easy_setopt(m_easy, CURLOPT_PROXY, ""); code != CURLE_OK) {
            m_strFailure = curl_easy_strerror(code);
            m_lastError = FetchError::Failed;
            return nullptr;
        }
        m_options.bDirect = true;
    }
    const Clock::time_point deadline = Clock::now() + m_options.timeouts.total;
    std::string hopUrl = EscapeRequestUrl(url);
    Origin credentials;  // where the header text goes: the first request's, or its https
    CURLcode result = CURLE_OK;
    for (int redirects = 0;; ++redirects) {
        const Origin hop = UrlOrigin(hopUrl);
        if (redirects == 0 || (credentials.scheme == "http" && hop.IsHttps() &&
                               hop.host == credentials.host && !credentials.host.empty())) {
            credentials = hop;
        }
        const char* method = postBody != nullptr ? "POST" : "GET";
        const std::string hopHeaders = hook != nullptr
                                           ? std::string(headers) + hook->HeadersFor(method, hopUrl)
                                           : std::string();
        const Slist list = BuildHeaderList(hook != nullptr ? hopHeaders : headers,
                                           redirects == 0 || hop == credentials);
        if (!list) {
            result = CURLE_OUT_OF_MEMORY;
            m_bAnswered = false;
            break;
        }
        const Clock::time_point start = Clock::now();
        result = Transfer(hopUrl, list.get(), deadline, postBody);
        long status = 0;
        char* location = nullptr;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(m_easy, CURLINFO_REDIRECT_URL, &location);
        m_nStatus = m_bAnswered ? status : 0;
        if (hook != nullptr && m_nStatus != 0) {
            hook->Answered(hopUrl, m_nStatus, m_answerHeaders);
        }
        if (m_options.onRequest) {
            const FetchError error = ErrorOf(result);
            const bool bHidden =
                hook != nullptr && hook->HidesQuery() && hopUrl.find('?') != std::string::npos;
            m_options.onRequest(
                {bHidden ? hopUrl.substr(0, hopUrl.find('?')) + "?..." : hopUrl, method, m_nStatus,
                 m_body.size(),
                 std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start),
                 FailureWord(error)});
        }
        if (result != CURLE_OK || m_bTooLarge || !IsFollowedRedirect(status) ||
            location == nullptr || postBody != nullptr) {
            break;
        }
        // https only on the host the credentials went to: another host is not even connected to.
        if (!StartsWithNoCase(location, "http://") &&
            !(m_options.trust != nullptr && StartsWithNoCase(location, "https://") &&
              UrlOrigin(location).host == credentials.host)) {
            result = CURLE_UNSUPPORTED_PROTOCOL;
            std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "redirected away from http");
            m_bAnswered = false;
            break;
        }
        if (redirects == kMaxRedirects) {
            result = CURLE_TOO_MANY_REDIRECTS;
            std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "more than %d redirects",
                          kMaxRedirects);
            m_bAnswered = false;
            break;
        }
        hopUrl = EscapeRequestUrl(location);
    }

    const FetchError error = ErrorOf(result);
    m_lastError = error;
    m_strFailure = FailureWord(error);
    if (error != FetchError::None && error != FetchError::TooLarge) {
        const char* detail = m_errorBuffer[0] != '\0' ? m_errorBuffer : curl_easy_strerror(result);
        m_strFailure.append(" (").append(detail).append(")");
    }
    if (!m_bAnswered) {
        m_nStatus = 0;
        return nullptr;
    }
    PageRequest request(new CPageRequest);
    request->body = std::move(m_body);
    m_body = std::string();
    request->error = error;
    return request;
}

void InternetHandleDeleter::operator()(CInternetHandle* handle) const {
    delete handle;
}
void PageRequestDeleter::operator()(CPageRequest* request) const {
    delete request;
}

InternetHandle OpenInternetHandle(const FetchOptions& options) {
    InternetHandle handle(new CInternetHandle(options));
    if (!handle->Init()) {
        return nullptr;
    }
    return handle;
}

PageRequest OpenPage(CInternetHandle& handle, const std::string& url, std::string_view headers,
                     IExchangeHook* hook) {
    if (url.empty()) {
        return nullptr;
    }
    return handle.Get(url, headers, nullptr, hook);
}

PageRequest PostPage(CInternetHandle& handle, const std::string& url, std::string_view headers,
                     std::string_view body, IExchangeHook* hook) {
    if (url.empty()) {
        return nullptr;
    }
    return handle.Get(url, headers, &body, hook);
}

std::string LastFetchFailure(const CInternetHandle& handle) {
    return handle.LastFailure();
}

FetchError LastFetchError(const CInternetHandle& handle) {
    return handle.LastError();
}

long LastResponseStatus(const CInternetHandle& handle) {
    return handle.LastStatus();
}

const std::string& LastUrl(const CInternetHandle& handle) {
    return handle.LastUrl();
}

const ServerKey& LastServerKey(const CInternetHandle& handle) {
    return handle.LastKey();
}

std::optional<std::string> ReadWholeResponse(CPageRequest& request, FetchError* error) {
    std::optional<std::string> text;
    if (request.error == FetchError::None && !request.body.empty()) {
        // The page is read in chunks of 4096 bytes, each taken as a C string.
        std::string joined;
        joined.reserve(request.body.size());
        const std::string_view body = request.body;
        for (std::size_t at = 0; at < body.size(); at += kReadChunk) {
            const std::string_view chunk = body.substr(at, kReadChunk);
            joined.append(chunk.substr(0, chunk.find('\0')));
        }
        text = std::move(joined);
    }
    if (error != nullptr) {
        *error = request.error;
    }
    return text;
}

std::string EscapeRequestUrl(std::string_view url) {
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f');
    };
    std::string out;
    out.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        const bool bStrayPercent =
            c == '%' && !(i + 2 < url.size() && isHex(url[i + 1]) && isHex(url[i + 2]));
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}' || bStrayPercent) {
            AppendPercentEscaped(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string BuildAuthorizationHeader(std::string_view login, std::string_view password) {
    std::string credentials;
    if (!login.empty() && !password.empty()) {
        credentials.append(login).append(":").append(password);
    } else if (!login.empty()) {
        credentials = login;
    } else if (!password.empty()) {
        credentials = password;
    } else {
        return std::string();
    }
    CBase64Encoder encoder;
    encoder.Encode(credentials.c_str());
    std::string encoded = encoder.GetText();
    encoder.Release();
    // The encoder breaks its output every 76 characters; a header line must stay whole.
    std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
    return "Authorization: Basic " + encoded + "\r\n\r\n";
}
