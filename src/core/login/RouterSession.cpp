#include "core/login/RouterSession.h"

#include <algorithm>
#include <utility>

#include "core/net/InetAddr.h"
#include "core/net/RouterUrl.h"
#include "core/net/ScriptScan.h"
#include "core/text/Ascii.h"

namespace {

constexpr const char* kStopped =
    "no more logins after two refused in a row, until polling starts again";
constexpr std::size_t kMaxStartTargets = 16;

bool IsRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string HeaderValue(const std::vector<std::string>& headers, std::string_view name) {
    for (const std::string& header : headers) {
        if (header.size() > name.size() && header[name.size()] == ':' &&
            StartsWithNoCase(header, name)) {
            return std::string(Trimmed(std::string_view(header).substr(name.size() + 1)));
        }
    }
    return {};
}

// Whether the page may hold a password input at all: the form scan is spared every other page.
bool MentionsPassword(std::string_view text) {
    for (std::size_t at = text.find_first_of("pP"); at != std::string_view::npos;
         at = text.find_first_of("pP", at + 1)) {
        if (StartsWithNoCase(text.substr(at), "password")) {
            return true;
        }
    }
    return false;
}

std::string PathOnly(std::string_view target) {
    return std::string(target.substr(0, target.find_first_of("?#")));
}

}  // namespace

CRouterSession::CRouterSession(RouterAccess router, ILoginEvents* events)
    : m_router(std::move(router)), m_events(events) {}

std::optional<std::string> CRouterSession::RouterTarget(const std::string& url) const {
    const bool bHttps = StartsWithNoCase(url, "https://");
    std::string host;
    std::uint16_t port = 0;
    if ((!bHttps && !StartsWithNoCase(url, "http://")) || !CrackUrlHost(url, host, port) ||
        host != DottedAddress(m_router.nAddress) || bHttps != m_router.bHttps ||
        port != m_router.nPort) {
        return std::nullopt;  // a name, another address, port or scheme: not the router
    }
    const std::size_t start = url.find("://") + 3;
    std::string target = url.substr(std::min(url.find_first_of("/?#", start), url.size()));
    if (target.empty() || target.front() != '/') {
        target.insert(0, "/");
    }
    return target.substr(0, target.find('#'));
}

void CRouterSession::FollowToHttps(const std::string& url) {
    m_router.MoveToHttps(url);
}

bool CRouterSession::HasCredentials() const {
    return !m_router.strLogin.empty() || !m_router.strPassword.empty();
}

bool CRouterSession::CanSendCredentials() const {
    return m_nRefused < kMaxRefusedAttempts && !m_bStopped;
}

bool CRouterSession::MayTryLogin() const {
    return !m_bRefused && CanSendCredentials();
}

std::string CRouterSession::HeadersFor(std::string_view method, const std::string& url) {
    const std::optional<std::string> target = RouterTarget(url);
    if (!target) {
        return {};
    }
    std::string lines = m_cookies.HeaderFor(PathOnly(*target));
    if (m_bDigest && m_digest.Has() && MayTryLogin()) {
        lines += m_digest.Header(m_router.strLogin, m_router.strPassword, method, *target);
        m_bSentDigest = true;
    }
    return lines;
}

void CRouterSession::Answered(const std::string& url, long,
                              const std::vector<std::string>& headers) {
    m_answerUrl = url;
    m_answerHeaders = headers;
    m_bAnswerSetCookie = false;
    FollowToHttps(url);
    const std::optional<std::string> target = RouterTarget(url);
    if (!target) {
        return;  // cookies of another host are no router's
    }
    for (const std::string& header : headers) {
        if (StartsWithNoCase(header, "set-cookie:")) {
            m_cookies.Store(Trimmed(std::string_view(header).substr(11)), PathOnly(*target));
            m_bAnswerSetCookie = true;
        }
    }
}

PageRequest CRouterSession::Exchange(CInternetHandle& internet, const std::string& asked,
                                     const std::string* postBody) {
    // Once the router has moved the session to https, its plain port is asked nothing more: the
    // page is asked there, and no credentials ever go back to http.
    std::string url = asked;
    std::string host;
    std::uint16_t port = 0;
    if (m_router.bHttps && StartsWithNoCase(url, "http://") && CrackUrlHost(url, host, port) &&
        host == DottedAddress(m_router.nAddress)) {
        const std::size_t start = url.find("://") + 3;
        url = m_router.Url(url.substr(std::min(url.find_first_of("/?#", start), url.size())));
    }
    m_answerUrl.clear();
    m_answerHeaders.clear();
    m_bAnswerSetCookie = false;
    m_bSentDigest = false;
    // The pre-emptive Basic header, as every request has always carried it, until the router asks
    // for Digest or has refused credentials twice.
    m_bSentBasic = !m_bDigest && CanSendCredentials() && !m_router.strHeaders.empty() &&
                   RouterTarget(url).has_value();
    const std::string_view headers =
        m_bSentBasic ? std::string_view(m_router.strHeaders) : std::string_view();
    return postBody != nullptr ? PostPage(internet, url, headers, *postBody, this)
                               : OpenPage(internet, url, headers, this);
}

void CRouterSession::Refuse(std::string why, bool bCounted) {
    if (bCounted) {
        ++m_nRefused;
        m_bRefused = true;
    }
    if (why != m_strFailure) {
        m_strFailure = std::move(why);
        if (m_events != nullptr) {
            m_events->LoginFailed(m_strFailure);
        }
    }
}

RouterAnswer CRouterSession::Ask(CInternetHandle& internet, const std::string& url) {
    RouterAnswer answer;
    for (bool bRetried = false;; bRetried = true) {
        answer.request = Exchange(internet, url);
        answer.status = answer.request ? LastResponseStatus(internet) : 0;
        if (!answer.request || !RouterTarget(m_answerUrl)) {
            return answer;
        }
        const bool bSent = m_bSentBasic || m_bSentDigest;
        if (answer.status != 401) {
            m_bAccepted = m_bAccepted || (bSent && answer.status < 400);
            return answer;
        }
        const AuthChallenges offered = ParseChallenges(m_answerHeaders);
        const bool bStale = m_bSentDigest && offered.bStale;
        // Credentials the router weighed and refused count, as the router counts them: a Digest
        // answer always, the Basic header until the router has once let it in (later 401s are
        // pages the login may not see).
        if (m_bSentDigest && !bStale) {
            Refuse("HTTP 401");
        } else if (m_bSentBasic && !m_bAccepted) {
            ++m_nRefused;
        }
        const bool bDigestOnly = offered.bDigest && !offered.bBasic;
        const bool bRetry = !bRetried && HasCredentials() && MayTryLogin() &&
                            (bDigestOnly ? !m_bSentDigest || bStale : m_bAnswerSetCookie);
        if (!bRetry) {
            return answer;
        }
        if (bDigestOnly) {
            // From now on every request of the session answers the router's challenge.
            m_bDigest = true;
            m_digest.Take(offered);
        }
    }
}

bool CRouterSession::LogIn(CInternetHandle& internet, const LoginForm& form,
                           const std::string& pageUrl) {
    const std::optional<std::string> page = RouterTarget(pageUrl);
    const RouterCheck isRouter = [this](const std::string& url) {
        return RouterTarget(url).has_value();
    };
    const std::string action = !page ? std::string()
                               : form.action.empty()
                                   ? *page
                                   : ResolveBrowserPath(*page, form.action, isRouter);
    if (action.empty()) {
        Refuse("the login form leads away from the router", false);
        return false;
    }
    m_loginForm = form;
    const std::string body = form.Encode(m_router.strLogin, m_router.strPassword);
    m_bHidesQuery = !form.bPost;  // the password in the address: kept out of the trace
    PageRequest reply = form.bPost
                            ? Exchange(internet, m_router.Url(action), &body)
                            : Exchange(internet, m_router.Url(PathOnly(action) + "?" + body));
    m_bHidesQuery = false;
    long status = reply ? LastResponseStatus(internet) : 0;
    // The redirect a login answers, followed by a GET as a browser follows it, on the router only.
    for (int hop = 0; reply && IsRedirect(status) && hop < kMaxRedirects; ++hop) {
        const std::optional<std::string> from = RouterTarget(m_answerUrl);
        const std::string location = HeaderValue(m_answerHeaders, "location");
        const std::string next = from && !location.empty()
                                     ? ResolveBrowserPath(*from, location, isRouter)
                                     : std::string();
        if (next.empty()) {
            break;
        }
        reply = Exchange(internet, m_router.Url(next));
        status = reply ? LastResponseStatus(internet) : 0;
    }
    if (!reply) {
        Refuse("no answer to the login");  // the password went out, whatever came back
        return false;
    }
    const std::optional<std::string> text = ReadWholeResponse(*reply);
    if (text && MentionsPassword(*text) && FindLoginForm(*text)) {
        Refuse("the login page came back");
        return false;
    }
    if (status == 401 || status == 403) {
        Refuse("HTTP " + std::to_string(status));
        return false;
    }
    m_bLoggedIn = true;
    m_strFailure.clear();
    if (m_events != nullptr) {
        m_events->LoggedIn(m_router.Url(action));
    }
    return true;
}

RouterAnswer CRouterSession::Get(CInternetHandle& internet, const std::string& url) {
    RouterAnswer answer = Ask(internet, url);
    if (!answer.request) {
        return answer;
    }
    const std::string path = RouterTarget(url).value_or("/");
    const bool bStart =
        m_bStartPhase &&
        (m_startTargets.empty() || std::ranges::find(m_startTargets, path) != m_startTargets.end());
    m_bStartPhase = bStart;
    const bool bRefusedStatus = answer.status == 401 || answer.status == 403;
    std::optional<LoginForm> form;
    std::optional<std::string> text;
    if (bRefusedStatus || bStart || m_loginForm) {
        text = ReadWholeResponse(*answer.request);
        if (text && MentionsPassword(*text)) {
            form = FindLoginForm(*text);
        }
    }
    const bool bInPlace =
        form && (bRefusedStatus || bStart || (m_loginForm && form->SameAs(*m_loginForm)));
    if (bInPlace) {
        m_bStartPhase = false;
        m_bLoggedIn = false;  // the session, if there was one, has ended
        const std::string pageUrl = m_answerUrl.empty() ? url : m_answerUrl;
        if (!HasCredentials()) {
            Refuse("no login or password given", false);
        } else if (m_bStopped) {
            Refuse(kStopped, false);
        } else if (MayTryLogin() && LogIn(internet, *form, pageUrl)) {
            RouterAnswer again = Ask(internet, url);
            if (!again.request) {
                return again;
            }
            const std::optional<std::string> page = ReadWholeResponse(*again.request);
            if (page && MentionsPassword(*page) && FindLoginForm(*page)) {
                m_bLoggedIn = false;  // the login did not hold
                Refuse("the login page came back");
            }
            answer = std::move(again);
        }
    } else if (bStart && text) {
        // Frames and refresh targets of the start page are where it leads: the start still. Not
        // when the page holds an inline frame: that is a part of a page, as likely a settings
        // form as a login.
        m_startTargets.clear();
        const bool bInlineFrame = AsciiLowered(*text).find("<iframe") != std::string::npos;
        FindDeepLinks(
            bInlineFrame ? std::string_view() : std::string_view(*text),
            [&](DeepLinkKind kind, std::string_view reference) {
                if (kind == DeepLinkKind::Loaded && m_startTargets.size() < kMaxStartTargets) {
                    std::string target = ResolveBrowserPath(
                        path, reference,
                        [this](const std::string& u) { return RouterTarget(u).has_value(); });
                    if (!target.empty()) {
                        m_startTargets.push_back(std::move(target));
                    }
                }
            });
        m_bStartPhase = !m_startTargets.empty();
    }
    answer.bAfterLogin = m_bLoggedIn;
    return answer;
}

void CRouterSession::StartTick() {
    m_nRefused = 0;
    m_bRefused = false;
    m_strFailure = m_bStopped ? kStopped : "";
}

void CRouterSession::EndTick(bool bLoginRefused) {
    if (m_bStopped) {
        return;
    }
    m_nRefusedTicks = bLoginRefused || m_bRefused ? m_nRefusedTicks + 1 : 0;
    if (m_nRefusedTicks >= kMaxRefusedTicks) {
        m_bStopped = true;
    }
}
