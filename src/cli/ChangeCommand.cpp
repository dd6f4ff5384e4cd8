#include "cli/ChangeCommand.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include "cli/Interrupt.h"

extern char** environ;

namespace {

constexpr const char* kAddressName = "VELMO_ADDRESS=";
constexpr const char* kPreviousName = "VELMO_PREVIOUS_ADDRESS=";

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
    if (Interrupted()) {
        WaitBriefly();
    } else {
        Wait(true);
    }
}

void CChangeCommand::WaitBriefly() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_child >= 0 && std::chrono::steady_clock::now() < deadline) {
        Wait(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_child >= 0) {
        kill(m_child, SIGTERM);
        Wait(true);
    }
}

void CChangeCommand::AddressRead(const std::string& address) {
    if (m_bHaveAddress && address == m_strAddress) {
        return;
    }
    const std::string previous = m_bHaveAddress ? m_strAddress : std::string();
    m_strAddress = address;
    m_bHaveAddress = true;
    Wait(true);

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
    // The command starts with the signals velmo-cli ignores or catches at their defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::cout.flush();
    const int error = posix_spawn(&m_child, argv[0], &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        m_child = -1;
        std::cerr << "velmo-cli: cannot run the --on-change command: " << std::strerror(error)
                  << '\n';
    }
}

void CChangeCommand::ReapIfEnded() {
    Wait(false);
}

void CChangeCommand::Wait(bool bBlock) {
    if (m_child < 0) {
        return;
    }
    int status = 0;
    pid_t done = 0;
    do {
        done = waitpid(m_child, &status, bBlock ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0) {
        return;
    }
    m_child = -1;
    if (done < 0) {
        return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        std::cerr << "velmo-cli: the --on-change command exited with status " << WEXITSTATUS(status)
                  << '\n';
    } else if (WIFSIGNALED(status)) {
        std::cerr << "velmo-cli: the --on-change command was ended by signal " << WTERMSIG(status)
                  << '\n';
    }
}
