#include "cli/Interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "core/spider/SpiderRun.h"

namespace {

std::atomic<bool> g_bInterrupted{false};
std::atomic<CSpiderRun*> g_pRun{nullptr};
int g_wakeRead = -1;
int g_wakeWrite = -1;

static_assert(std::atomic<CSpiderRun*>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    if (g_bInterrupted.exchange(true)) {
        _exit(130);
    }
    if (CSpiderRun* run = g_pRun.load()) {
        run->Abandon();
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

int InterruptFd() {
    return g_wakeRead;
}

bool SleepUnlessInterrupted(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    while (!Interrupted()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd wake{g_wakeRead, POLLIN, 0};
        poll(&wake, 1, static_cast<int>(std::min<long long>(left, 1000 * 60 * 60)));
    }
    return true;
}

CRunInterruption::CRunInterruption(CSpiderRun& run) {
    g_pRun.store(&run);
    // A request that came before the store above has not seen the run: pass it on here.
    if (g_bInterrupted.load()) {
        run.Abandon();
    }
}

CRunInterruption::~CRunInterruption() {
    g_pRun.store(nullptr);
}
