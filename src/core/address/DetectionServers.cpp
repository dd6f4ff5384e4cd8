#include "core/address/DetectionServers.h"

#include "core/text/Ascii.h"

namespace {

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool IsPathChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '?' && c != '#' && c != '"' && c != '<' && c != '>' &&
           c != '\\' && c != '`' && c != '{' && c != '}' && c != '|' && c != '^';
}

}  // namespace

bool IsDetectionServerUrl(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (!StartsWithNoCase(url, kScheme)) {
        return false;
    }
    std::string_view rest = url.substr(kScheme.size());
    std::size_t at = 0;
    while (at < rest.size() && IsHostChar(rest[at])) {
        ++at;
    }
    const std::string_view host = rest.substr(0, at);
    if (host.empty() || host.front() == '.' || host.front() == '-' || host.size() > 253) {
        return false;
    }
    if (at < rest.size() && rest[at] == ':') {
        const std::size_t start = ++at;
        unsigned long port = 0;
        while (at < rest.size() && rest[at] >= '0' && rest[at] <= '9' && at - start < 5) {
            port = port * 10 + static_cast<unsigned long>(rest[at] - '0');
            ++at;
        }
        if (at == start || port == 0 || port > 65535) {
            return false;
        }
    }
    if (at == rest.size()) {
        return true;
    }
    if (rest[at] != '/') {
        return false;
    }
    for (; at < rest.size(); ++at) {
        if (!IsPathChar(rest[at])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> UsableDetectionServers(const std::vector<std::string>& entries,
                                                std::vector<std::string>* skipped) {
    std::vector<std::string> usable;
    for (const std::string& entry : entries) {
        if (IsDetectionServerUrl(entry)) {
            usable.push_back(entry);
        } else if (skipped != nullptr) {
            skipped->push_back(entry);
        }
    }
    return usable;
}
