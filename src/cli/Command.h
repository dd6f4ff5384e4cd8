#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/gateway/Gateway.h"
#include "core/net/HttpFetch.h"
#include "core/net/RouterUrl.h"

namespace CLI {
class App;
}

// What a command works within besides its own options: the limits of its requests and name
// lookups, and where names are looked up. --connect-timeout and --max-time set some; the build
// the tests run (velmo-cli-test) may shorten every one and answer names from a table.
struct CommandLimits {
    HttpTimeouts timeouts;
    GatewayLimits gateway;
    // One name lookup (the router's HOST, a name in a link) gives up after this long: generous
    // against a slow name server, short enough that a mistyped name ends soon.
    std::chrono::milliseconds lookupLimit{5000};
    HostLookup lookup;                                      // empty: the system resolver
    std::optional<std::chrono::milliseconds> pollInterval;  // instead of poll's --interval
};

// One command of velmo-cli: its options, the rules its line must keep, and its run. A new command
// is a unit of its own and a line in MakeCommands (Commands.cpp).
class CCommand {
public:
    // `help` is a summary line for velmo-cli --help, then the command's own help: its paragraphs,
    // one a line.
    CCommand(std::string name, std::string synopsis, std::string help)
        : m_name(std::move(name)), m_synopsis(std::move(synopsis)), m_help(std::move(help)) {}
    virtual ~CCommand() = default;
    CCommand(const CCommand&) = delete;
    CCommand& operator=(const CCommand&) = delete;

    const std::string& Name() const { return m_name; }
    const std::string& Synopsis() const {
        return m_synopsis;
    }  // the arguments, as in "HOST[:PORT]"
    const std::string& Help() const { return m_help; }

    // Declares the options on `app`, the command's own parser, each value checked as it is parsed,
    // and with Rule what the line as a whole must keep.
    virtual void Define(CLI::App& app) = 0;
    // Runs the command on a line that keeps every rule; answers the exit status.
    virtual int Run() = 0;

    // A rule of the line that no single option's check can state: `check` answers what is said
    // when the line breaks it, or the empty text. Rules are checked in the order given, once the
    // whole line is parsed and before anything is run.
    void Rule(std::function<std::string()> check) { m_rules.push_back(std::move(check)); }
    // What the first rule the line breaks says; the empty text when it keeps them all.
    std::string BrokenRule() const;

    CommandLimits& Limits() { return m_limits; }

protected:
    CommandLimits m_limits;

private:
    std::string m_name;
    std::string m_synopsis;
    std::string m_help;
    std::vector<std::function<std::string()>> m_rules;
};
