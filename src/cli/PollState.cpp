#include "cli/PollState.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "core/gateway/WanAddress.h"
#include "core/net/InetAddr.h"
#include "core/report/ReportFile.h"

namespace {
// An address and its line end, with room to tell a longer file from one.
constexpr std::size_t kMaxStateBytes = 64;
}  // namespace

std::optional<std::string> LoadPollState(const std::string& path) {
    const std::string shown = EscapeControls(path);
    // O_NONBLOCK: a FIFO at the path must not hold polling up waiting for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) {
            Say(Priority::Warning, "cannot read the state file " + shown + ": " +
                                       std::strerror(errno) +
                                       "; the first address read counts "
                                       "as a change");
        }
        return std::nullopt;
    }
    char buffer[kMaxStateBytes] = {};
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    if (ParseStrictDottedQuad(text)) {
        return text;
    }
    Say(Priority::Warning,
        "the state file " + shown + " holds no address; the first address read counts as a change");
    return std::nullopt;
}

void SavePollState(const std::string& path, const std::string& address) {
    std::string error;
    if (!WriteReportFile(path, address + '\n', 0666, error, RemoveOnQuickExit)) {
        Say(Priority::Error,
            "cannot keep the address in the state file " + EscapeControls(path) + ": " + error);
    }
}
