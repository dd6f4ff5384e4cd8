#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/login/Cookies.h"
#include "core/login/Digest.h"
#include "core/login/LoginForm.h"
#include "core/net/HttpFetch.h"
#include "core/net/RouterAccess.h"

// What a session tells as it goes: each login it made and each it could not make.
class ILoginEvents {
public:
    virtual ~ILoginEvents() = default;
    // The router's login form at `formUrl` let Velmo in.
    virtual void LoggedIn(const std::string& /*formUrl*/) {}
    // A login the router put in place of a page did not let Velmo in; `why` as LoginFailure.
    virtual void LoginFailed(const std::string& /*why*/) {}
};

// A page of the router as the session brought it.
struct RouterAnswer {
    PageRequest request;       // null when no answer came: the handle's LastFetchFailure tells why
    long status = 0;           // of the answer handed back
    bool bAfterLogin = false;  // read once the router's login form had let Velmo in
};

// One spider run's or one polling session's way into the router, kept from request to request
// and, for polling, from tick to tick: its cookies (in memory only), Digest once the router asked
// for it, and its login form. Every request carries the run's pre-emptive Basic header as it
// always has, unless the router asked for Digest; what the session adds (cookies, a Digest
// answer) goes to the router's own address and port alone.
//
// Ways in, each only when the router asks:
// - a 401 that offers Digest and not Basic is answered with Digest, and from then on every request
//   is, never again with the password in a Basic header;
// - a 401 that sets a cookie is asked again once, with the cookie and the credentials;
// - a login form (see FindLoginForm) given in place of a page Velmo asked for — on a 401 or 403,
//   or as the start page or where the start page's redirects, frames and refresh lead before any
//   other page was read — is submitted as a browser user would, its action on the router alone,
//   and the page asked for again; a page that turns back into that form later (the session
//   ended) is logged in again and asked for again. No other form is ever submitted.
// A login answered by the login page again, or by 401 or 403, is refused: the session tries no
// more logins, and after two refused attempts sends no more credentials at all, whatever the router
// does. For polling each tick counts anew, and after two ticks in a row with a refused login none
// is tried again in the session: routers lock out a client that keeps failing.
class CRouterSession final : private IExchangeHook {
public:
    static constexpr int kMaxRefusedAttempts = 2;
    static constexpr int kMaxRefusedTicks = 2;

    explicit CRouterSession(RouterAccess router, ILoginEvents* events = nullptr);

    // GET of `url`, a page of the router, with everything above.
    RouterAnswer Get(CInternetHandle& internet, const std::string& url);

    // Polling: a tick begins, with its own count of refused attempts, and ends.
    void StartTick();
    // `bLoginRefused`: the tick's page was refused (HTTP 401 or 403) whatever the session tried.
    void EndTick(bool bLoginRefused);

    // Why a login the router asked for could not be made or was refused: "HTTP 401", "the login
    // page came back", "no login or password given", "logins stopped after two refused ticks in a
    // row"; empty when there was none or it let Velmo in. A tick's own, for polling.
    const std::string& LoginFailure() const { return m_strFailure; }
    bool LoggedIn() const { return m_bLoggedIn; }
    // Where the session asks the router now: moved to https once the router sent it there.
    const RouterAccess& Router() const { return m_router; }
    bool LoginsStopped() const { return m_bStopped; }
    bool UsesDigest() const { return m_bDigest; }
    const CCookieJar& Cookies() const { return m_cookies; }

private:
    std::string HeadersFor(std::string_view method, const std::string& url) override;
    void Answered(const std::string& url, long status,
                  const std::vector<std::string>& headers) override;
    bool HidesQuery() const override { return m_bHidesQuery; }

    // One GET with the 401 answers above; the status of what came back in `answer`.
    RouterAnswer Ask(CInternetHandle& internet, const std::string& url);
    PageRequest Exchange(CInternetHandle& internet, const std::string& url,
                         const std::string* postBody = nullptr);
    // Submits `form` of the page at `pageUrl`; true when the router let Velmo in.
    bool LogIn(CInternetHandle& internet, const LoginForm& form, const std::string& pageUrl);
    bool HasCredentials() const;
    // Fewer than two refused and polling's logins not stopped: credentials of any kind may go.
    bool CanSendCredentials() const;
    // And no login refused yet in the run or the tick: a login may be tried.
    bool MayTryLogin() const;
    void Refuse(std::string why, bool bCounted = true);
    // The path and query of `url` when it names the router (its scheme, address and port), else
    // nullopt.
    std::optional<std::string> RouterTarget(const std::string& url) const;
    // An answer from https on the router's address, where the session asked its plain port, moves
    // the session there, as it does the fetch's credentials: nothing goes back to http.
    void FollowToHttps(const std::string& url);

    RouterAccess m_router;
    ILoginEvents* m_events;
    CCookieJar m_cookies;
    CDigestAnswer m_digest;
    bool m_bDigest = false;
    std::optional<LoginForm> m_loginForm;  // the router's, once Velmo tried it
    bool m_bLoggedIn = false;
    bool m_bStartPhase = true;  // no page other than the start and where it leads read yet
    std::vector<std::string> m_startTargets;  // where the start page's frames and refresh lead
    int m_nRefused = 0;                       // refused attempts, of the run or of the tick
    bool m_bRefused = false;  // a login refused: no more are tried in the run or the tick
    int m_nRefusedTicks = 0;  // in a row
    bool m_bStopped = false;
    std::string m_strFailure;

    // The answer of the exchange that ended last.
    std::string m_answerUrl;
    std::vector<std::string> m_answerHeaders;
    bool m_bAnswerSetCookie = false;
    bool m_bSentBasic = false;   // by the exchange that ended last
    bool m_bHidesQuery = false;  // the exchange sends a login form by GET
    bool m_bSentDigest = false;  // by one of its hops
    bool m_bAccepted = false;    // the router once let the credentials in
};
