#include "core/login/RouterSession.h"

#include <algorithm>
#include <utility>

#include "core/net/InetAddr.h"
#include "core/net/ScriptScan.h"
#include "core/text/Ascii.h"

namespace {

constexpr const char* kStopped = "no more logins after two refused in a row, until polling starts again";
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
    if (!StartsWithNoCase(url, "http://")) {
        return std::nullopt;
    }
    const std::size_t start = 7;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::string_view authority = std::string_view(url).substr(start, end - start);
    const std::size_t colon = authority.rfind(':');
    const std::string_view host = authority.substr(0, colon);
    std::uint32_t port = 80;
    if (colon != std::string_view::npos) {
        const std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        port = static_cast<std::uint32_t>(std::stoul(std::string(digits)));
    }
    if (host != DottedAddress(m_router.nAddress) || port != m_router.nPort) {
        return std::nullopt;  // a name, another address or another port: not the router
    }
    std::string target = url.substr(end);
    if (target.empty() || target.front() != '/') {
        target.insert(0, "/");
    }
    return target.substr(0, target.find('#'));
}

bool CRouterSession::HasCredentials() const {
    return !m_router.strLogin.empty() || !m_router.strPassword.empty();
}

bool CRouterSession::MayTryLogin() const {
    return !m_bRefused && m_nRefused < kMaxRefusedAttempts && !m_bStopped;
}

std::string CRouterSession::HeadersFor(std::string_view method, const std::string& url) {
    const std::optional<std::string> target = RouterTarget(url);
    if (!target) {
        return {};
    }
    std::string lines = m_cookies.HeaderFor(PathOnly(*target));
    if (m_bDigest && m_digest.Has() && !m_bRefused && m_nRefused < kMaxRefusedAttempts &&
        !m_bStopped) {
        lines += m_digest.Header(m_router.strLogin, m_router.strPassword, method, *target);
    }
    return lines;
}

void CRouterSession::Answered(const std::string& url, long, const std::vector<std::string>& headers) {
    m_answerUrl = url;
    m_answerHeaders = headers;
    m_bAnswerSetCookie = false;
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

PageRequest CRouterSession::Exchange(CInternetHandle& internet, const std::string& url,
                                     const std::string* postBody) {
    m_answerUrl.clear();
    m_answerHeaders.clear();
    m_bAnswerSetCookie = false;
    // The pre-emptive Basic header, as every request has always carried it, until the router asks
    // for Digest or has refused credentials twice.
    const bool bBasic = !m_bDigest && m_nRefused < kMaxRefusedAttempts && !m_bStopped;
    const std::string_view headers = bBasic ? std::string_view(m_router.strHeaders) : std::string_view();
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
    answer.request = Exchange(internet, url);
    answer.status = answer.request ? LastResponseStatus(internet) : 0;
    if (!answer.request || answer.status != 401 || !RouterTarget(m_answerUrl)) {
        return answer;
    }
    const AuthChallenges offered = ParseChallenges(m_answerHeaders);
    const bool bSentDigest = m_bDigest && m_digest.Has() && MayTryLogin();
    const bool bDigest = offered.bDigest && !offered.bBasic;
    const bool bRetry = HasCredentials() && MayTryLogin() &&
                        ((bDigest && (!bSentDigest || offered.bStale)) ||
                         (!bDigest && m_bAnswerSetCookie));
    if (!bRetry) {
        if (bSentDigest && bDigest) {
            Refuse("HTTP 401");
        } else if (!m_bDigest && !m_router.strHeaders.empty() && m_nRefused < kMaxRefusedAttempts &&
                   !m_bStopped) {
            ++m_nRefused;  // the Basic credentials, refused: counted, as the router counts them
        }
        return answer;
    }
    if (bDigest) {
        // From now on every request of the session answers the router's challenge.
        m_bDigest = true;
        m_digest.Take(offered);
    }
    answer.request = Exchange(internet, url);
    answer.status = answer.request ? LastResponseStatus(internet) : 0;
    if (answer.status == 401) {
        Refuse("HTTP 401");
    }
    return answer;
}

bool CRouterSession::LogIn(CInternetHandle& internet, const LoginForm& form,
                           const std::string& pageUrl) {
    const std::optional<std::string> page = RouterTarget(pageUrl);
    const RouterCheck isRouter = [this](const std::string& url) {
        return RouterTarget(url).has_value();
    };
    const std::string action =
        !page ? std::string()
        : form.action.empty() ? *page
                              : ResolveBrowserPath(*page, form.action, isRouter);
    if (action.empty()) {
        Refuse("the login form leads away from the router", false);
        return false;
    }
    m_loginForm = form;
    const std::string body = form.Encode(m_router.strLogin, m_router.strPassword);
    PageRequest reply = form.bPost ? Exchange(internet, m_router.Url(action), &body)
                                   : Exchange(internet, m_router.Url(PathOnly(action) + "?" + body));
    long status = reply ? LastResponseStatus(internet) : 0;
    // The redirect a login answers, followed by a GET as a browser follows it, on the router only.
    for (int hop = 0; reply && IsRedirect(status) && hop < kMaxRedirects; ++hop) {
        const std::optional<std::string> from = RouterTarget(m_answerUrl);
        const std::string location = HeaderValue(m_answerHeaders, "location");
        const std::string next =
            from && !location.empty() ? ResolveBrowserPath(*from, location, isRouter) : std::string();
        if (next.empty()) {
            break;
        }
        reply = Exchange(internet, m_router.Url(next));
        status = reply ? LastResponseStatus(internet) : 0;
    }
    if (!reply) {
        Refuse("no answer to the login", false);
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
    const bool bStart = m_bStartPhase && (m_startTargets.empty() ||
                                          std::ranges::find(m_startTargets, path) != m_startTargets.end());
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
        // Frames and refresh targets of the start page are where it leads: the start still.
        m_startTargets.clear();
        FindDeepLinks(*text, [&](DeepLinkKind kind, std::string_view reference) {
            if (kind == DeepLinkKind::Loaded && m_startTargets.size() < kMaxStartTargets) {
                std::string target = ResolveBrowserPath(path, reference, [this](const std::string& u) {
                    return RouterTarget(u).has_value();
                });
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
