#include "core/address/DetectionServers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/text/Ascii.h"
#include "core/text/ShownText.h"

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

// The whole file, or nullopt with `why` set (empty when there is no file). One byte more than the
// limit is asked for, so that a file exactly at the limit is read and a longer one is known to be
// longer.
std::optional<std::string> ReadWhole(const std::string& path, std::string& why) {
    // stat() first: it neither opens nor blocks, whatever the path names.
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        why = errno == ENOENT ? std::string() : std::string("not read: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        why = "not a regular file";
        return std::nullopt;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        why = std::string("not read: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::optional<std::string> text;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "not a regular file";  // swapped since the stat()
    } else {
        text.emplace(kMaxDetectionServersBytes + 1, '\0');
        std::size_t size = 0;
        while (size < text->size()) {
            const ssize_t n = read(fd, text->data() + size, text->size() - size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                why = std::string("not read: ") + std::strerror(errno);
                text.reset();
                break;
            }
            if (n == 0) {
                break;
            }
            size += static_cast<std::size_t>(n);
        }
        if (text && size > kMaxDetectionServersBytes) {
            why = "larger than 1 MiB";
            text.reset();
        } else if (text) {
            text->resize(size);
        }
    }
    close(fd);
    return text;
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

std::string DetectionServersFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.config";
    } else {
        return {};
    }
    return folder + "/velmo/servers";
}

DetectionServersFile ReadDetectionServers(const std::string& path) {
    DetectionServersFile list;
    if (path.empty()) {
        return list;
    }
    std::string why;
    const std::optional<std::string> text = ReadWhole(path, why);
    if (!text) {
        list.unusable = why;
        return list;
    }
    std::string_view rest = *text;
    if (rest.starts_with("\xEF\xBB\xBF")) {
        rest.remove_prefix(3);
    }
    std::size_t skipped = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        // A "#" right after a URL is its fragment, which no server takes; after white space it
        // starts a comment.
        for (std::size_t hash = line.find('#'); hash != std::string_view::npos;
             hash = line.find('#', hash + 1)) {
            if (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t') {
                line = line.substr(0, hash);
                break;
            }
        }
        line = Trimmed(line, " \t\r");
        if (line.empty()) {
            continue;
        }
        if (IsDetectionServerUrl(line)) {
            list.servers.emplace_back(line);
        } else if (++skipped <= kShownSkippedLines) {
            list.warnings.push_back(path + ": skipped detection server \"" +
                                    EscapeUnsafeText(line) + "\": not http://HOST[:PORT][/PATH]");
        }
    }
    if (skipped > kShownSkippedLines) {
        const std::size_t more = skipped - kShownSkippedLines;
        list.warnings.push_back(path + ": and " + std::to_string(more) +
                                (more == 1 ? " more line" : " more lines") + " skipped");
    }
    if (list.servers.empty()) {
        list.unusable = "no usable detection server in it";
    }
    return list;
}
