#include "cli/ChangeCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "core/address/AddressScan.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAddressName = "VELMO_ADDRESS=";
constexpr const char* kPreviousName = "VELMO_PREVIOUS_ADDRESS=";
// Without a pidfd, how often a wait looks whether the command has ended.
constexpr std::chrono::milliseconds kReapSlice{20};
constexpr std::chrono::milliseconds kLastMoment{200};

std::vector<std::string> ChildEnvironment(const std::string& address, const std::string& previous) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (!text.starts_with(kAddressName) && !text.starts_with(kPreviousName)) {
            entries.emplace_back(text);
        }
    }
    entries.push_back(kAddressName + address);
    entries.push_back(kPreviousName + previous);
    return entries;
}

}  // namespace

CChangeCommand::~CChangeCommand() {
    EndNow(m_grace);
}

void CChangeCommand::AddressRead(const std::string& token) {
    const std::string address = JudgedAddress(token);
    if (m_strSeen == address) {
        return;
    }
    m_strSeen = address;
    if (m_child >= 0) {
        m_pending = address;
    } else {
        Start(address);
    }
}

bool CChangeCommand::SleepUnlessInterrupted(std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    while (!Interrupted() && Clock::now() < deadline) {
        if (m_child < 0) {
            WaitReadable(-1, deadline);
        } else if (!WaitForEnd(deadline, true)) {
            break;
        }
    }
    return Interrupted();
}

void CChangeCommand::Finish() {
    const auto deadline = Clock::now() + m_grace;
    while (m_child >= 0 && !Interrupted() && WaitForEnd(deadline, true)) {
    }
    // A command that has had its grace already gets only a moment to heed SIGTERM.
    EndNow(Interrupted() ? m_grace : kLastMoment);
}

void CChangeCommand::EndNow(std::chrono::milliseconds grace) {
    m_pending.reset();
    if (m_child < 0) {
        return;
    }
    // The whole group: whatever the shell started goes too.
    kill(-m_child, SIGTERM);
    if (!WaitForEnd(Clock::now() + grace, false)) {
        kill(-m_child, SIGKILL);
        while (m_child >= 0 && !Reap()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

void CChangeCommand::Start(const std::string& address) {
    if (Interrupted()) {
        return;
    }
    const std::string previous = m_strGiven;
    m_strGiven = address;
    std::vector<std::string> environment = ChildEnvironment(address, previous);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", option = "-c";
    char* argv[] = {shell.data(), option.data(), m_command.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // The command starts with the signals velmo-cli ignores or catches at their defaults, in a
    // process group of its own: a Ctrl-C at the terminal goes to velmo-cli, which ends the group.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const int error = posix_spawn(&m_child, argv[0], &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        m_child = -1;
        Say(Priority::Error,
            std::string("cannot run the --on-change command: ") + std::strerror(error));
        return;
    }
    m_childFd = static_cast<int>(syscall(SYS_pidfd_open, m_child, 0));
    EndGroupOnQuickExit(m_child);
}

bool CChangeCommand::Reap() {
    int status = 0;
    pid_t done = 0;
    do {
        done = waitpid(m_child, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0) {
        return false;
    }
    EndGroupOnQuickExit(0);
    m_child = -1;
    if (m_childFd >= 0) {
        close(m_childFd);
        m_childFd = -1;
    }
    if (done > 0 && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        Say(Priority::Error,
            "the --on-change command exited with status " + std::to_string(WEXITSTATUS(status)));
    } else if (done > 0 && WIFSIGNALED(status)) {
        Say(Priority::Error,
            "the --on-change command was ended by signal " + std::to_string(WTERMSIG(status)));
    }
    if (m_pending) {
        const std::string address = *m_pending;
        m_pending.reset();
        if (address != m_strGiven) {
            Start(address);
        }
    }
    return true;
}

bool CChangeCommand::WaitForEnd(Clock::time_point deadline, bool bInterruptible) {
    while (m_child >= 0 && !Reap()) {
        const auto now = Clock::now();
        if (now >= deadline || (bInterruptible && Interrupted())) {
            return false;
        }
        const auto until = m_childFd >= 0 ? deadline : std::min(deadline, now + kReapSlice);
        if (bInterruptible) {
            WaitReadable(m_childFd, until);
        } else {
            pollfd ended{m_childFd, POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
            poll(&ended, m_childFd >= 0 ? 1 : 0, static_cast<int>(left.count()));
        }
    }
    return true;
}
