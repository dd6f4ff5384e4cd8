#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/Exit.h"
#include "core/address/AddressProbe.h"
#include "core/gateway/Gateway.h"
#include "core/net/HttpFetch.h"
#include "core/net/KnownRouters.h"

// The options more than one command takes, each with its help text and its check, and what the
// commands make of them.

// --login, --password-stdin and --password-file, which exclude each other.
struct LoginOptions {
    std::string login;
    bool bPasswordStdin = false;
    std::optional<std::string> passwordFile;

    // `what` is what the login is for, as in "the router's pages".
    void Add(CCommand& command, CLI::App& app, const std::string& what);
    // Whether any of them was given.
    bool Given() const { return !login.empty() || bPasswordStdin || passwordFile; }
    // The password: the first line of the file, or of standard input (asked for at a terminal,
    // "Password for LOGIN@HOST: "), or none. A stop request at the prompt answers what was read.
    OrExit<std::string> Password(const std::string& host) const;
};

// --igd and --natpmp: the gateway to ask instead of the one found on the network.
struct GatewayTargetOptions {
    std::string igdUrl;         // empty: an SSDP search
    std::string natpmpGateway;  // empty: the default route's gateway

    void Add(CLI::App& app);
    bool Given() const { return !igdUrl.empty() || !natpmpGateway.empty(); }
    GatewayTarget Target() const;
};

// --connect-timeout and --max-time, into `timeouts`.
void AddTimeLimits(CLI::App& app, HttpTimeouts& timeouts);
// -v, --verbose.
void AddVerbose(CLI::App& app, bool& bVerbose);
// --json: `what` is what each object holds, as in "the outcome of the run".
void AddJson(CLI::App& app, bool& bJson, const std::string& what);
// -q, --quiet: no progress, notes or warnings on standard error (SetQuiet); `what` says what else
// the command leaves out.
void AddQuiet(CLI::App& app, const std::string& what);
// --detect-url, repeatable.
void AddDetectUrls(CLI::App& app, std::vector<std::string>& urls);
// --exclude.
void AddExclude(CLI::App& app, std::string& exclude);
// --allow-reserved.
void AddAllowReserved(CLI::App& app, bool& bAllowReserved);
// --trust-new-certificate.
void AddTrustNewKey(CLI::App& app, bool& bTrustNew);

// Says, on standard error, that the https router showed a key not known yet (its fingerprint,
// the certificate's subject and validity, and how to trust it), or one that is not the one
// remembered in `file` (both fingerprints, and what to do); the status the command ends with.
Exit KeyRefused(const KeyRefusal& refusal, const std::string& file);
// Says that `trusted`, a key not known before, is trusted now and remembered in `file`, or why it
// could not be remembered.
void SayKeyTrusted(const KeyRefusal& trusted, const std::string& file, const std::string& failure);

// How requests go: within `timeouts`, each said on standard error with --verbose, and ended by a
// stop request. Detection servers honour http_proxy; `bRouter` goes straight to the router.
// `status`, when given, receives the HTTP status of each answer as it comes (0 for none), so that
// it holds the last one's, that of the page read after any redirect.
FetchOptions Fetching(const HttpTimeouts& timeouts, bool bVerbose, bool bRouter,
                      long* status = nullptr);
// --verbose: "GET URL: 200, 1234 bytes, 12 ms" for each request; nothing without it. `status` as
// for Fetching.
RequestHook Tracing(bool bVerbose, long* status = nullptr);

// `urls` of --detect-url, else the usable entries of the user's list (the lines skipped said as
// warnings), else, when there is no list, the built-in servers. A list that is there but gives no
// server ends the command (exit 64, the file named).
OrExit<std::vector<std::string>> DetectionServersInForce(const std::vector<std::string>& urls);

// --exclude as the probe takes it.
std::string NormalizedExclusions(std::string exclude);

// Why a page gave no address, as the polling log says it when the answer's HTTP status is an error
// ("HTTP 404"), whatever the page held; else the probe's own reason, a transfer's with its detail
// ("timed out (nothing received for 10000 ms)").
std::string PageReason(const ProbeFailure& failure);
// The same for a router page, a refused login with what to check.
std::string RouterReason(const ProbeFailure& failure);
// A login the router refused, `why` ("HTTP 401", "the login page came back"), with what to check.
std::string RefusedLoginReason(const std::string& why);

// A check of CLI11 for a number of seconds, fractions allowed, from `low` to a day.
std::function<std::string(const std::string&)> SecondsFrom(double low);

// `text` as a whole number in decimal, or nullopt.
std::optional<long> WholeNumber(std::string_view text);
