#include "cli/Journal.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>

#include "cli/Output.h"

namespace {

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

// The unit of this process, read once: its cgroup stays as long as it runs. The unified hierarchy
// ("0::PATH") names it, or on hybrid systems systemd's own ("N:name=systemd:PATH").
std::optional<std::string> OwnUserUnit() {
    std::ifstream groups("/proc/self/cgroup");
    std::optional<std::string> unit;
    for (std::string line; std::getline(groups, line);) {
        const std::size_t colon = line.find(':');
        const std::size_t path = line.find(':', colon + 1);
        if (colon == std::string::npos || path == std::string::npos) {
            continue;
        }
        const std::string_view hierarchy(line.data() + colon + 1, path - colon - 1);
        if (hierarchy.empty() || hierarchy == "name=systemd") {
            if (std::optional<std::string> found = UserUnitOfCgroup(line.substr(path + 1))) {
                unit = std::move(found);
            }
        }
    }
    return unit;
}

// One field of the native protocol in its binary form, which takes any bytes.
void AppendField(std::string& entry, std::string_view name, std::string_view value) {
    entry.append(name).push_back('\n');
    std::uint64_t length = value.size();
    for (int i = 0; i < 8; ++i, length >>= 8) {
        entry.push_back(static_cast<char>(length & 0xFF));
    }
    entry.append(value).push_back('\n');
}

}  // namespace

std::optional<std::string> UserUnitOfCgroup(std::string_view cgroup) {
    bool bInManager = false;
    while (!cgroup.empty()) {
        const std::size_t start = cgroup.find_first_not_of('/');
        if (start == std::string_view::npos) {
            break;
        }
        cgroup.remove_prefix(start);
        const std::string_view segment = cgroup.substr(0, cgroup.find('/'));
        cgroup.remove_prefix(segment.size());
        if (!bInManager) {
            bInManager = segment.starts_with("user@") && segment.ends_with(".service");
        } else if (!segment.ends_with(".slice")) {
            // The first below the manager's slices; a scope (a terminal's, say) has no stream.
            return segment.ends_with(".service") ? std::optional<std::string>(segment)
                                                 : std::nullopt;
        }
    }
    return std::nullopt;
}

bool SendToJournal(int priority, std::string_view line) {
    // The journal's stream is a socket; a pipe that JOURNAL_STREAM names is someone else's.
    static const std::optional<std::string> unit = [] {
        struct stat status {};
        return IsJournalStream(STDERR_FILENO) && fstat(STDERR_FILENO, &status) == 0 &&
                       S_ISSOCK(status.st_mode)
                   ? OwnUserUnit()
                   : std::nullopt;
    }();
    if (!unit) {
        return false;
    }
    std::string entry;
    AppendField(entry, "MESSAGE", line);
    AppendField(entry, "PRIORITY", std::to_string(priority));
    AppendField(entry, "SYSLOG_IDENTIFIER", "velmo-cli");
    AppendField(entry, "USER_UNIT", *unit);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kJournalSocket, sizeof address.sun_path - 1);
    const ssize_t sent = sendto(fd, entry.data(), entry.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
    close(fd);
    return sent == static_cast<ssize_t>(entry.size());
}
