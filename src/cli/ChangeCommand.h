#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "core/address/AddressScan.h"

// The --on-change command of poll: run through /bin/sh -c when the address changes. It never
// holds polling up: while one runs, the newest change waits (one, the latest) and starts when it
// ends. Each runs in a process group of its own with standard input /dev/null, and sees
// VELMO_ADDRESS and VELMO_PREVIOUS_ADDRESS beside the program's own environment, which never holds
// the password.
class CChangeCommand {
public:
    explicit CChangeCommand(std::string command,
                            std::chrono::milliseconds grace = std::chrono::seconds(2))
        : m_command(std::move(command)), m_grace(grace) {}
    // Ends a command still running as a stop does.
    ~CChangeCommand();
    CChangeCommand(const CChangeCommand&) = delete;
    CChangeCommand& operator=(const CChangeCommand&) = delete;

    // The address a run before this one read last (kept by --state): reading it again is no
    // change, and the first change gives it as VELMO_PREVIOUS_ADDRESS.
    void Resume(const std::string& address) { m_strSeen = m_strGiven = JudgedAddress(address); }
    // An acceptable address was read, `token` as the page wrote it. A new address (the first one
    // too) starts the command, or waits while one runs.
    void AddressRead(const std::string& token);
    // Sleeps for `duration`, or until a stop is requested (true then), meanwhile reaping the
    // command that ends and starting the change that waits.
    bool SleepUnlessInterrupted(std::chrono::milliseconds duration);
    // Polling is over. When it was stopped, the command still running gets SIGTERM to its group at
    // once and SIGKILL after the grace. Otherwise it, and then the change that waits, have the
    // grace to finish; what still runs after it gets SIGTERM and, a moment later, SIGKILL. Nothing
    // starts after a stop.
    void Finish();

private:
    void Start(const std::string& address);
    // Reaps the command if it has ended, reports how it did and starts the change that waits;
    // true when it had ended.
    bool Reap();
    // Waits until the command has ended or `deadline` passes; a stop request cuts the wait short
    // when `bInterruptible`. True when it ended.
    bool WaitForEnd(std::chrono::steady_clock::time_point deadline, bool bInterruptible);
    // SIGTERM to the command's group, SIGKILL after `grace`.
    void EndNow(std::chrono::milliseconds grace);

    std::string m_command;
    std::chrono::milliseconds m_grace;
    std::optional<std::string> m_strSeen;  // the address read last, in dotted form
    std::string m_strGiven;                // the address the last command was given
    std::optional<std::string> m_pending;  // the change that waits for the running command
    pid_t m_child = -1;
    int m_childFd = -1;  // readable once the child has ended; -1 when the kernel has no pidfd
};
