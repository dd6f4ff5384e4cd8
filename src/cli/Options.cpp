#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <sstream>

#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "core/address/DetectScript.h"
#include "core/address/DetectionServers.h"
#include "core/address/Exclusions.h"
#include "core/gateway/WanAddress.h"
#include "core/net/InetAddr.h"
#include "core/polling/PollReading.h"
#include "core/spider/SpiderRules.h"

namespace {

std::chrono::milliseconds Milliseconds(const std::string& seconds) {
    return std::chrono::ceil<std::chrono::milliseconds>(
        std::chrono::duration<double>(std::strtod(seconds.c_str(), nullptr)));
}

// "Password for admin@192.168.1.1: "
std::string PasswordPrompt(const std::string& login, const std::string& host) {
    return "Password for " + EscapeControls(login.empty() ? host : login + '@' + host) + ": ";
}

}  // namespace

std::function<std::string(const std::string&)> SecondsFrom(double low) {
    return [low](const std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(value) || value < low || value > 86400) {
            std::ostringstream range;
            range << "takes a number of seconds from " << low << " to 86400";
            return range.str();
        }
        return std::string();
    };
}

std::optional<long> WholeNumber(std::string_view text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

void LoginOptions::Add(CCommand& command, CLI::App& app, const std::string& what) {
    app.add_option("--login", login, "the login name for " + what)->type_name("LOGIN");
    app.add_flag("--password-stdin", bPasswordStdin,
                 "the password is the first line of standard input");
    app.add_option_function<std::string>(
           "--password-file", [this](const std::string& path) { passwordFile = path; },
           "the first line of FILE, your own file that only you can read and write, is the "
           "password")
        ->type_name("FILE");
    command.Rule([this] {
        return bPasswordStdin && passwordFile
                   ? "--password-file and --password-stdin exclude each other"
                   : "";
    });
}

OrExit<std::string> LoginOptions::Password(const std::string& host) const {
    if (passwordFile) {
        return ReadPasswordFile(*passwordFile);
    }
    return bPasswordStdin ? ReadPasswordFromStdin(PasswordPrompt(login, host))
                          : OrExit<std::string>(std::string());
}

void GatewayTargetOptions::Add(CLI::App& app) {
    app.add_option("--igd", igdUrl,
                   "ask the UPnP IGD whose root description is at URL instead of searching for "
                   "one")
        ->type_name("URL")
        ->check([](const std::string& url) {
            return CrackIgdUrl(url) ? std::string() : url + " is not http://A.B.C.D[:PORT][/PATH]";
        });
    app.add_option("--natpmp", natpmpGateway,
                   "ask NAT-PMP of ADDRESS instead of the default route's gateway")
        ->type_name("ADDRESS")
        ->check([](const std::string& address) {
            return ParseStrictDottedQuad(address).value_or(0) != 0
                       ? std::string()
                       : address + " is not an address A.B.C.D";
        });
}

GatewayTarget GatewayTargetOptions::Target() const {
    GatewayTarget target;
    target.igdUrl = igdUrl;
    target.natpmpGateway = ParseStrictDottedQuad(natpmpGateway).value_or(0);
    return target;
}

void AddTimeLimits(CLI::App& app, HttpTimeouts& timeouts) {
    app.add_option_function<std::string>(
           "--connect-timeout",
           [&timeouts](const std::string& seconds) { timeouts.connect = Milliseconds(seconds); },
           "give up a request whose connection (name lookup included) is not made within "
           "SECONDS (10)")
        ->type_name("SECONDS")
        ->check(SecondsFrom(0.001));
    app.add_option_function<std::string>(
           "--max-time",
           [&timeouts](const std::string& seconds) { timeouts.total = Milliseconds(seconds); },
           "give up a request, redirects included, that takes longer than SECONDS (60)")
        ->type_name("SECONDS")
        ->check(SecondsFrom(0.001));
}

void AddVerbose(CLI::App& app, bool& bVerbose) {
    app.add_flag("-v,--verbose", bVerbose,
                 "print each request on standard error: method, URL, status, bytes and time "
                 "taken");
}

void AddJson(CLI::App& app, bool& bJson, const std::string& what) {
    app.add_flag("--json", bJson,
                 "print " + what +
                     " as a JSON object on one line instead of text; velmo-cli(1) lists its "
                     "fields");
}

void AddQuiet(CLI::App& app, const std::string& what) {
    app.add_flag_callback(
        "-q,--quiet", [] { SetQuiet(true); }, what);
}

void AddDetectUrls(CLI::App& app, std::vector<std::string>& urls) {
    app.add_option("--detect-url", urls,
                   "ask URL instead of the detection servers in force (repeatable)")
        ->type_name("URL")
        ->allow_extra_args(false)
        ->check([](const std::string& url) {
            return IsDetectionServerUrl(url) ? std::string()
                                             : url + " is not http://HOST[:PORT][/PATH]";
        });
}

void AddExclude(CLI::App& app, std::string& exclude) {
    app.add_option("--exclude", exclude,
                   "addresses that are not the public one: A.B.C.D, A.B.*.*, LOW - HIGH")
        ->type_name("TEXT");
}

void AddAllowReserved(CLI::App& app, bool& bAllowReserved) {
    app.add_flag("--allow-reserved", bAllowReserved,
                 "accept private, loopback and other reserved addresses too");
}

void AddTrustNewKey(CLI::App& app, bool& bTrustNew) {
    app.add_flag("--trust-new-certificate", bTrustNew,
                 "over https, trust the router's certificate key when none is remembered for it "
                 "yet, and remember it; a key that differs from the remembered one is never "
                 "trusted");
}

Exit KeyRefused(const KeyRefusal& refusal, const std::string& file) {
    const std::string router = "https://" + KnownRouterName(refusal.address, refusal.port);
    const std::string list = EscapeControls(file.empty() ? "the known-routers file" : file);
    const ServerKey& shown = refusal.shown;
    const std::string facts = "  subject:     " + EscapeControls(shown.subject) +
                              "\n  valid:       " + EscapeControls(shown.notBefore) + " to " +
                              EscapeControls(shown.notAfter);
    if (refusal.Changed()) {
        Say(Priority::Error, "THE KEY OF THE ROUTER AT " + router +
                                 " HAS CHANGED: it was not trusted, and nothing was sent to it");
        SayBare(Priority::Error,
                "  remembered:  " + refusal.remembered +
                    "\n  shown now:   " + EscapeControls(shown.pin) + "\n" + facts +
                    "\n  Another device may be answering in the router's place. If you know why "
                    "the key changed (the router was reset or given a new certificate), forget "
                    "the old key with \"velmo-cli trust --forget " +
                    router + "\" (or remove the line of " +
                    KnownRouterName(refusal.address, refusal.port) + " from " + list +
                    "), then run again with --trust-new-certificate.");
    } else {
        Say(Priority::Error, "the router at " + router +
                                 " shows a certificate key that is not trusted yet: nothing was "
                                 "sent to it");
        SayBare(Priority::Error,
                "  fingerprint: " + EscapeControls(shown.pin) + "\n" + facts +
                    "\n  If this is your router's key (its web interface or its manual shows "
                    "it), run again with --trust-new-certificate to trust it and remember it in " +
                    list + ".");
    }
    return {kExitUntrustedKey};
}

void SayKeyTrusted(const KeyRefusal& trusted, const std::string& file, const std::string& failure) {
    const std::string router = "https://" + KnownRouterName(trusted.address, trusted.port);
    if (failure.empty()) {
        Say(Priority::Info, "trusted the key " + trusted.shown.pin + " of " + router +
                                " and remembered it in " + EscapeControls(file));
    } else {
        Say(Priority::Warning, "trusted the key " + trusted.shown.pin + " of " + router +
                                   " for this run only: " + EscapeControls(failure));
    }
}

RequestHook Tracing(bool bVerbose, long* status) {
    if (!bVerbose && status == nullptr) {
        return {};
    }
    return [bVerbose, status](const RequestTrace& trace) {
        if (status != nullptr) {
            *status = trace.status;
        }
        if (!bVerbose) {
            return;
        }
        Say(Priority::Debug,
            std::string(trace.method) + " " + EscapeControls(trace.url) + ": " +
                (trace.status != 0 ? std::to_string(trace.status) : EscapeControls(trace.failure)) +
                ", " + std::to_string(trace.bytes) + " bytes, " +
                std::to_string(trace.took.count()) + " ms");
    };
}

FetchOptions Fetching(const HttpTimeouts& timeouts, bool bVerbose, bool bRouter, long* status) {
    FetchOptions options{timeouts, CAbortSignal(&InterruptFlag())};
    options.bDirect = bRouter;
    options.onRequest = Tracing(bVerbose, status);
    return options;
}

OrExit<std::vector<std::string>> DetectionServersInForce(const std::vector<std::string>& urls) {
    if (!urls.empty()) {
        return urls;
    }
    const std::string path = DetectionServersFilePath();
    DetectionServersFile file = ReadDetectionServers(path);
    for (const std::string& warning : file.warnings) {
        Say(Priority::Warning, warning);
    }
    if (!file.unusable.empty()) {
        return Usage(EscapeControls(path) + ": " + file.unusable +
                     "; correct it, or remove it to use the built-in servers");
    }
    return file.servers.empty() ? CDetectScript().Servers() : std::move(file.servers);
}

std::string NormalizedExclusions(std::string exclude) {
    NormalizeExclusions(exclude);
    return exclude;
}

std::string PageReason(const ProbeFailure& failure) {
    const PollReading reading = PageReading(false, {}, failure);
    const bool bHttpError =
        reading.failure == PollFailure::HttpStatus || reading.failure == PollFailure::LoginRefused;
    return bHttpError ? reading.reason : failure.why;
}

std::string RefusedLoginReason(const std::string& why) {
    return "the router refused the login (" + why + "): check --login and the password";
}

std::string RouterReason(const ProbeFailure& failure) {
    if (IsLoginRefused(failure.status)) {
        return RefusedLoginReason("HTTP " + std::to_string(failure.status));
    }
    return PageReason(failure);
}
