#pragma once

#include <sys/types.h>

#include <string>

// The --on-change command of poll: run through /bin/sh -c each time the address changes, one at a
// time and in the order of the changes. It sees VELMO_ADDRESS and VELMO_PREVIOUS_ADDRESS beside
// the program's own environment, which never holds the password, and reads nothing from
// velmo-cli's standard input.
class CChangeCommand {
public:
    explicit CChangeCommand(std::string command) : m_command(std::move(command)) {}
    // Waits for the command still running; once velmo-cli has been told to stop, for a few seconds
    // only, then ends it with SIGTERM.
    ~CChangeCommand();
    CChangeCommand(const CChangeCommand&) = delete;
    CChangeCommand& operator=(const CChangeCommand&) = delete;

    // An acceptable address was read: runs the command when it differs from the one before (the
    // first address is a change), after the command of the change before has ended.
    void AddressRead(const std::string& address);
    // Reports on stderr how a command that has ended did, when not with status 0.
    void ReapIfEnded();

private:
    void Wait(bool bBlock);
    void WaitBriefly();

    std::string m_command;
    std::string m_strAddress;
    bool m_bHaveAddress = false;
    pid_t m_child = -1;
};
