#include "cli/Interrupt.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

std::atomic<bool> g_bInterrupted{false};
int g_wakeRead = -1;
int g_wakeWrite = -1;
// Read by the signal handler: the descriptor is published only once the settings are in place.
termios g_terminal{};
std::atomic<int> g_terminalFd{-1};
std::atomic<pid_t> g_group{0};
// As the terminal: the name is published once it is whole.
char g_removeName[PATH_MAX] = {};
std::atomic<bool> g_bRemove{false};

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<pid_t>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    if (g_bInterrupted.exchange(true)) {
        if (const int fd = g_terminalFd.load(); fd >= 0) {
            tcsetattr(fd, TCSANOW, &g_terminal);
        }
        if (const pid_t group = g_group.load(); group > 0) {
            kill(-group, SIGKILL);
        }
        if (g_bRemove.load()) {
            unlink(g_removeName);
        }
        _exit(130);
    }
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = write(g_wakeWrite, "!", 1);
    errno = saved;
}

}  // namespace

void InstallInterruptHandlers() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeRead = fds[0];
        g_wakeWrite = fds[1];
    }
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;  // output keeps flowing; the waits below poll the wake pipe
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() {
    return g_bInterrupted.load();
}

const std::atomic<bool>& InterruptFlag() {
    return g_bInterrupted;
}

void RequestStop() {
    if (!g_bInterrupted.exchange(true) && g_wakeWrite >= 0) {
        [[maybe_unused]] const ssize_t written = write(g_wakeWrite, "!", 1);
    }
}

bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    while (!Interrupted()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        std::array<pollfd, 2> waits{{{g_wakeRead, POLLIN, 0}, {fd, POLLIN, 0}}};
        const nfds_t count = fd >= 0 ? 2 : 1;
        if (poll(waits.data(), count,
                 static_cast<int>(std::min<long long>(left.count(), 3600000))) > 0 &&
            fd >= 0 && waits[1].revents != 0) {
            return true;
        }
    }
    return false;
}

bool SleepUnlessInterrupted(std::chrono::milliseconds duration) {
    WaitReadable(-1, std::chrono::steady_clock::now() + duration);
    return Interrupted();
}

void RestoreTerminalOnQuickExit(int fd, const termios* settings) {
    g_terminalFd.store(-1);
    if (settings != nullptr) {
        g_terminal = *settings;
        g_terminalFd.store(fd);
    }
}

void EndGroupOnQuickExit(pid_t group) {
    g_group.store(group);
}

void RemoveOnQuickExit(const char* path) {
    g_bRemove.store(false);
    if (path != nullptr && std::strlen(path) < sizeof g_removeName) {
        std::strcpy(g_removeName, path);
        g_bRemove.store(true);
    }
}
