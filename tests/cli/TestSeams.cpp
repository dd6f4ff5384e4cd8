// velmo-cli-test: velmo-cli as the tests run it, never installed. The same program, with hidden
// options that shorten its limits, and host names answered from VELMO_TEST_HOSTS, so that no test
// waits on a real limit or sends a name to a name server.
#include <arpa/inet.h>

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "cli/CommandLine.h"
#include "cli/Options.h"
#include "cli/RouterHost.h"
#include "core/net/InetAddr.h"

namespace {

std::string CheckMilliseconds(const std::string& text) {
    const std::optional<long> value = WholeNumber(text);
    return value && *value >= 1 ? std::string() : "takes a number of milliseconds";
}

// "CONNECT_MS,STALL_MS,TOTAL_MS"
std::optional<HttpTimeouts> ParseTimeouts(const std::string& text) {
    std::vector<long> values;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        const std::optional<long> value = WholeNumber(part);
        if (!value || *value < 1) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    if (values.size() != 3) {
        return std::nullopt;
    }
    using std::chrono::milliseconds;
    return HttpTimeouts{milliseconds(values[0]), milliseconds(values[1]), milliseconds(values[2])};
}

// "SEARCH_MS,REQUEST_MS", each at most a day: deadlines are computed from them.
std::optional<GatewayLimits> ParseGatewayLimits(const std::string& text) {
    constexpr long kDayMs = 86400000;
    const std::size_t comma = text.find(',');
    const std::optional<long> search = WholeNumber(text.substr(0, comma));
    const std::optional<long> request =
        comma == std::string::npos ? std::nullopt : WholeNumber(text.substr(comma + 1));
    if (!search || !request || *search < 1 || *request < 1 || *search > kDayMs ||
        *request > kDayMs) {
        return std::nullopt;
    }
    return GatewayLimits{std::chrono::milliseconds(*search), std::chrono::milliseconds(*request)};
}

// VELMO_TEST_HOSTS, "NAME=A.B.C.D,NAME=stall,…": "stall" never answers; "localhost" goes to the
// system resolver, which answers it from the hosts file; every other name is not found.
HostLookup TableLookup(std::string entries) {
    return [entries = std::move(entries)](const std::string& name, std::uint32_t& address) {
        if (name == "localhost") {
            return SystemHostLookup(name, address);
        }
        std::istringstream in(entries);
        for (std::string entry; std::getline(in, entry, ',');) {
            const std::size_t equals = entry.find('=');
            if (entry.substr(0, equals) != name || equals == std::string::npos) {
                continue;
            }
            const std::string value = entry.substr(equals + 1);
            if (value == "stall") {
                std::this_thread::sleep_for(std::chrono::hours(1));
                return false;
            }
            const std::optional<std::uint32_t> found = ParsePaddedDottedQuad(value);
            address = htonl(found.value_or(0));
            return found.has_value();
        }
        return false;
    };
}

// NAME, whose text `parse` turns into `value`; `form` is what it takes.
template <class Value>
void AddParsed(CLI::App& command, const std::string& name,
               std::optional<Value> (*parse)(const std::string&), const std::string& form,
               Value& value) {
    command
        .add_option_function<std::string>(name,
                                          [=, &value](const std::string& text) {
                                              const std::optional<Value> given = parse(text);
                                              if (!given) {
                                                  throw CLI::ValidationError(name, form);
                                              }
                                              value = *given;
                                          })
        ->group("");
}

// Milliseconds into `value`, for --test-lookup-limit and --test-interval.
template <class Value>
void AddMilliseconds(CLI::App& command, const std::string& name, Value& value) {
    command
        .add_option_function<long>(name,
                                   [&value](long ms) { value = std::chrono::milliseconds(ms); })
        ->check(CheckMilliseconds)
        ->group("");
}

// detect --test-list-servers: prints the servers in force (of --detect-url, the user's list or the
// built-in ones) and asks none.
void AddListServers(CLI::App& detect) {
    const CLI::Option* urls = detect.get_option("--detect-url");
    detect
        .add_flag_callback("--test-list-servers",
                           [urls] {
                               const OrExit<std::vector<std::string>> servers =
                                   DetectionServersInForce(urls->results());
                               if (!servers) {
                                   std::exit(servers.Status());
                               }
                               for (const std::string& server : *servers) {
                                   std::cout << server << '\n';
                               }
                               throw CLI::Success();
                           })
        ->group("");
}

void AddSeams(CLI::App& command, CommandLimits& limits) {
    const std::string& name = command.get_name();
    if (name != "gateway") {
        AddParsed(command, "--test-timeouts", ParseTimeouts, "takes CONNECT_MS,STALL_MS,TOTAL_MS",
                  limits.timeouts);
    }
    if (name == "spider") {
        AddMilliseconds(command, "--test-lookup-limit", limits.lookupLimit);
    }
    if (name != "probe") {
        AddParsed(command, "--test-gateway-limits", ParseGatewayLimits,
                  "takes SEARCH_MS,REQUEST_MS, each from 1 to 86400000", limits.gateway);
    }
    if (name == "poll") {
        AddMilliseconds(command, "--test-interval", limits.pollInterval);
    }
    if (name == "detect") {
        AddListServers(command);
    }
    if (const char* hosts = std::getenv("VELMO_TEST_HOSTS")) {
        limits.lookup = TableLookup(hosts);
    }
}

}  // namespace

int main(int argc, char** argv) {
    return RunVelmoCli(argc, argv, AddSeams);
}
