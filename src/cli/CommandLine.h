#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/gateway/Gateway.h"
#include "core/net/HttpFetch.h"

inline constexpr int kExitInterrupted = 3;
inline constexpr int kExitUsage = 64;

// A command line or a value on it that cannot be used; the message is one line.
struct UsageError {
    std::string message;
};

// A command that cannot go on: its exit status and a one-line message (empty: nothing to say).
struct CommandError {
    int status;
    std::string message;
};

// What one command was given.
struct CommandLine {
    std::string command;  // spider, probe, poll, detect or gateway
    std::string router;   // HOST[:PORT]: spider, poll
    std::string url;      // probe
    std::string path;     // poll
    std::string login;
    bool bPasswordStdin = false;
    std::optional<std::string> passwordFile;
    std::string exclude;
    std::optional<std::string> externalAddress;
    std::optional<std::string> report;
    std::vector<std::string> detectUrls;
    double interval = 60;  // seconds
    std::optional<long> count;
    std::optional<std::string> onChange;  // run through /bin/sh -c when the address changes
    bool bListParsed = false;
    bool bDeep = false;
    bool bAllowReserved = false;
    bool bEach = false;
    bool bGateway = false;             // poll the gateway instead of a page
    bool bGatewayCheck = false;        // detect: ask the gateway too
    std::string igdUrl;                // empty: an SSDP search
    std::string natpmpGateway;         // empty: the default route's gateway
    std::optional<std::string> state;  // poll: the file that keeps the last address read
    bool bVerbose = false;             // each request on standard error
    bool bQuiet = false;               // poll: only changes and errors

    // --connect-timeout and --max-time; the tests shorten the others too, so that no test waits
    // on the real limits.
    HttpTimeouts timeouts;
    std::optional<std::chrono::milliseconds> lookupLimit;  // of a name in a link
    std::optional<std::chrono::milliseconds> testInterval;
    bool bTestListServers = false;  // detect: print the servers in force, ask none
    GatewayLimits gatewayLimits;
};

// Parses the arguments. Answers the exit status when nothing is left to do (help, version, a
// usage error, each printed already); otherwise fills `line` and answers nullopt.
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine& line);
