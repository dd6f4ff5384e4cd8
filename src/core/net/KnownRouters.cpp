#include "core/net/KnownRouters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

#include "core/net/InetAddr.h"

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The file's text; nullopt with `error` when it is there and cannot be used, empty when it is not
// there at all.
std::optional<std::string> ReadList(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::string();
        }
        error = SystemError(path);
        return std::nullopt;
    }
    struct stat status {};
    std::string text;
    bool bOk = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
               static_cast<std::size_t>(status.st_size) <= kMaxKnownRoutersBytes;
    if (!bOk) {
        error = path + ": not a regular file of at most 1 MiB";
    }
    char buffer[4096];
    while (bOk) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxKnownRoutersBytes) {
            bOk = false;
            error = SystemError(path);
        } else if (n == 0) {
            break;
        } else {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return bOk ? std::optional<std::string>(std::move(text)) : std::nullopt;
}

// The pin of the line that names `name`; `line`, when given, gets each line that does not.
std::string PinIn(const std::string& text, const std::string& name,
                  std::vector<std::string>* others = nullptr) {
    std::istringstream lines(text);
    std::string pin;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string first, second;
        fields >> first >> second;
        if (first == name && !first.starts_with('#') && pin.empty()) {
            pin = second;
        } else if (others != nullptr && !(first == name && !first.starts_with('#'))) {
            others->push_back(line);
        }
    }
    return pin;
}

// Writes `lines` as the whole file: a private file beside it, renamed over it once whole.
bool WriteList(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        // The folder of the user's own settings: made private when it is made here.
        const std::string folder = path.substr(0, slash);
        const std::size_t parent = folder.rfind('/');
        if (parent != std::string::npos && parent > 0) {
            mkdir(folder.substr(0, parent).c_str(), 0700);
        }
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = SystemError(folder);
            return false;
        }
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());  // 0600
    if (fd < 0) {
        error = SystemError(path);
        return false;
    }
    std::string text;
    for (const std::string& line : lines) {
        text.append(line).append("\n");
    }
    bool bOk = true;
    for (std::size_t at = 0; bOk && at < text.size();) {
        const ssize_t n = write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        bOk = n > 0;
        at += bOk ? static_cast<std::size_t>(n) : 0;
    }
    bOk = bOk && fsync(fd) == 0;
    if (close(fd) != 0) {
        bOk = false;
    }
    if (!bOk || rename(temporary.c_str(), path.c_str()) != 0) {
        error = SystemError(path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string KnownRoutersFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/velmo/known-routers";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/velmo/known-routers";
    }
    return {};
}

std::string KnownRouterName(std::uint32_t address, std::uint16_t port) {
    return DottedAddress(address) + ':' + std::to_string(port);
}

std::optional<std::string> RememberedPin(const std::string& path, std::uint32_t address,
                                         std::uint16_t port, std::string& error) {
    if (path.empty()) {
        return std::string();
    }
    const std::optional<std::string> text = ReadList(path, error);
    return text ? std::optional(PinIn(*text, KnownRouterName(address, port))) : std::nullopt;
}

std::vector<std::pair<std::string, std::string>> KnownRouterKeys(const std::string& path) {
    std::string error;
    const std::optional<std::string> text = path.empty() ? std::nullopt : ReadList(path, error);
    std::vector<std::pair<std::string, std::string>> keys;
    std::istringstream lines(text.value_or(std::string()));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string router, pin;
        if (fields >> router >> pin && !router.starts_with('#')) {
            keys.emplace_back(std::move(router), std::move(pin));
        }
    }
    return keys;
}

bool RememberRouterKey(const std::string& path, std::uint32_t address, std::uint16_t port,
                       const std::string& pin, std::string& error) {
    const std::optional<std::string> text = ReadList(path, error);
    if (!text) {
        return false;
    }
    const std::string name = KnownRouterName(address, port);
    std::vector<std::string> lines;
    if (!PinIn(*text, name, &lines).empty()) {
        error = path + " remembers another key for " + name;
        return false;
    }
    lines.push_back(name + ' ' + pin);
    return WriteList(path, lines, error);
}

bool ForgetRouterKey(const std::string& path, std::uint32_t address, std::uint16_t port,
                     bool& bRemoved, std::string& error) {
    const std::optional<std::string> text = ReadList(path, error);
    if (!text) {
        return false;
    }
    std::vector<std::string> lines;
    bRemoved = !PinIn(*text, KnownRouterName(address, port), &lines).empty();
    return !bRemoved || WriteList(path, lines, error);
}

CRouterTrust::CRouterTrust(std::string file, std::uint32_t address, bool bTrustNew)
    : m_strFile(std::move(file)), m_nAddress(address), m_bTrustNew(bTrustNew) {}

bool CRouterTrust::IsRouter(const std::string& host) const {
    return host == DottedAddress(m_nAddress);
}

std::string CRouterTrust::KnownPin(const std::string& host, std::uint16_t port) {
    if (!IsRouter(host)) {
        return {};
    }
    if (m_nPort != port) {
        m_nPort = port;
        m_strUnreadable.clear();
        m_strPin = RememberedPin(m_strFile, m_nAddress, port, m_strUnreadable).value_or("");
    }
    return m_strPin;
}

bool CRouterTrust::TrustNewKey(const std::string& host, std::uint16_t port, const ServerKey& key) {
    if (!IsRouter(host) || key.pin.empty()) {
        return false;
    }
    KeyRefusal met{m_nAddress, port, key, {}};
    // A list that cannot be read may remember another key: none is trusted then.
    if (KnownPin(host, port); !m_strUnreadable.empty()) {
        met.remembered = "unknown: the known-routers file cannot be read (" + m_strUnreadable + ")";
        m_refused = std::move(met);
        return false;
    }
    if (!m_bTrustNew) {
        m_refused = std::move(met);
        return false;
    }
    // Trusted for this session whatever becomes of the file; what could not be written is said.
    if (!m_strFile.empty() &&
        !RememberRouterKey(m_strFile, m_nAddress, port, key.pin, m_strRememberFailure)) {
        // Written meanwhile by the other front end: a remembered key is never replaced.
        std::string error;
        met.remembered =
            RememberedPin(m_strFile, m_nAddress, port, error)
                .value_or("unknown: the known-routers file cannot be read (" + error + ")");
        if (!met.remembered.empty() && met.remembered != key.pin) {
            m_refused = std::move(met);
            return false;
        }
        met.remembered.clear();
    }
    m_trusted = std::move(met);
    m_nPort = port;
    m_strPin = key.pin;
    return true;
}

void CRouterTrust::KeyChanged(const std::string& host, std::uint16_t port, const ServerKey& key,
                              const std::string& pin) {
    if (IsRouter(host)) {
        m_refused = {m_nAddress, port, key, pin};
    }
}
