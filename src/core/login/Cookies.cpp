#include "core/login/Cookies.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "core/text/Ascii.h"

namespace {

// The folder of a request path, the path a cookie without a Path attribute is given.
std::string DefaultPath(std::string_view requestPath) {
    const std::size_t slash = requestPath.rfind('/');
    if (requestPath.empty() || requestPath.front() != '/' || slash == 0) {
        return "/";
    }
    return std::string(requestPath.substr(0, slash));
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath.empty()) {
        requestPath = "/";
    }
    if (!requestPath.starts_with(cookiePath)) {
        return false;
    }
    return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
           requestPath[cookiePath.size()] == '/';
}

}  // namespace

void CCookieJar::Store(std::string_view setCookie, std::string_view requestPath, std::time_t now) {
    std::size_t end = std::min(setCookie.find(';'), setCookie.size());
    const std::string_view pair = setCookie.substr(0, end);
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    Cookie cookie{std::string(Trimmed(pair.substr(0, equals))),
                  std::string(Trimmed(pair.substr(equals + 1))), DefaultPath(requestPath)};
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieBytes ||
        std::ranges::any_of(cookie.name, control) || std::ranges::any_of(cookie.value, control)) {
        return;  // a line of its own must never come of it
    }
    bool bMaxAge = false;
    while (end < setCookie.size()) {
        const std::size_t start = end + 1;
        end = std::min(setCookie.find(';', start), setCookie.size());
        const std::string_view attribute = setCookie.substr(start, end - start);
        const std::size_t split = std::min(attribute.find('='), attribute.size());
        const std::string_view name = Trimmed(attribute.substr(0, split));
        const std::string_view value =
            split < attribute.size() ? Trimmed(attribute.substr(split + 1)) : std::string_view();
        if (EqualsNoCase(name, "path")) {
            if (!value.empty() && value.front() == '/') {
                cookie.path = std::string(value);
            }
        } else if (EqualsNoCase(name, "max-age")) {
            long long seconds = 0;
            const auto [at, error] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error == std::errc() && at == value.data() + value.size()) {
                bMaxAge = true;
                cookie.expires = seconds <= 0 ? 1
                                 : seconds > std::numeric_limits<std::time_t>::max() - now
                                     ? 0
                                     : now + static_cast<std::time_t>(seconds);
            }
        } else if (EqualsNoCase(name, "expires") && !bMaxAge) {
            const std::time_t when = curl_getdate(std::string(value).c_str(), nullptr);
            if (when != -1) {
                cookie.expires = when <= 0 ? 1 : when;
            }
        }
    }
    const auto same = std::find_if(m_cookies.begin(), m_cookies.end(), [&](const Cookie& kept) {
        return kept.name == cookie.name && kept.path == cookie.path;
    });
    const bool bGone = cookie.expires != 0 && cookie.expires <= now;
    if (same != m_cookies.end()) {
        if (bGone) {
            m_cookies.erase(same);
        } else {
            same->value = std::move(cookie.value);
            same->expires = cookie.expires;
        }
    } else if (!bGone && m_cookies.size() < kMaxCookies) {
        m_cookies.push_back(std::move(cookie));
    }
}

std::string CCookieJar::HeaderFor(std::string_view requestPath, std::time_t now) const {
    std::vector<const Cookie*> sent;
    for (const Cookie& cookie : m_cookies) {
        if ((cookie.expires == 0 || cookie.expires > now) &&
            PathMatches(requestPath, cookie.path)) {
            sent.push_back(&cookie);
        }
    }
    if (sent.empty()) {
        return {};
    }
    std::stable_sort(sent.begin(), sent.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() > b->path.size();
    });
    std::string line = "Cookie: ";
    for (const Cookie* cookie : sent) {
        line.append(line.size() > 8 ? "; " : "")
            .append(cookie->name)
            .append("=")
            .append(cookie->value);
    }
    return line + "\r\n";
}
