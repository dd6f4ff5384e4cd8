#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <map>
#include <sstream>

#include "cli/Output.h"
#include "core/address/DetectionServers.h"
#include "core/gateway/WanAddress.h"
#include "core/version/ModuleVersion.h"

namespace {

// The help in this program's layout: the usage line first, with each command's arguments named.
class CHelpFormatter : public CLI::Formatter {
public:
    void SetSynopsis(const std::string& command, std::string synopsis) {
        m_synopsis[command] = std::move(synopsis);
    }

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::ostringstream out;
        out << make_usage(app, name);
        if (app->get_parent() != nullptr) {
            const std::string& text = app->get_description();
            std::istringstream paragraphs(text.substr(text.find('\n') + 1));
            for (std::string paragraph; std::getline(paragraphs, paragraph);) {
                out << Wrapped(paragraph, 0) << '\n';
            }
        }
        out << make_subcommands(app, mode) << make_groups(app, mode);
        return out.str();
    }

    std::string make_usage(const CLI::App* app, std::string name) const override {
        if (app->get_parent() == nullptr) {
            return "usage: " + name + " COMMAND [OPTIONS]\n";
        }
        return "usage: " + name + Synopsis(app) + " [OPTIONS]\n";
    }

    std::string make_subcommand(const CLI::App* sub) const override {
        return Columns(sub->get_name() + Synopsis(sub), Summary(sub));
    }

    std::string make_option(const CLI::Option* option, bool bPositional) const override {
        return Columns(make_option_name(option, bPositional) + make_option_opts(option),
                       make_option_desc(option));
    }

private:
    static constexpr std::size_t kWidth = 80;

    // `text` in lines of at most kWidth columns that start at column `indent`; the caller has
    // filled the first line up to it.
    static std::string Wrapped(const std::string& text, std::size_t indent) {
        std::istringstream words(text);
        std::string out;
        std::size_t column = indent;
        for (std::string word; words >> word;) {
            if (!out.empty() && column + 1 + word.size() > kWidth) {
                out += '\n' + std::string(indent, ' ');
                column = indent;
            } else if (!out.empty()) {
                out += ' ';
                ++column;
            }
            out += word;
            column += word.size();
        }
        return out;
    }

    // "  NAME   TEXT": the text wrapped in its column; a name too wide for it has a line of its
    // own.
    std::string Columns(const std::string& name, const std::string& text) const {
        std::string line = "  " + name;
        if (line.size() + 1 > column_width_) {
            line += '\n';
            line += std::string(column_width_, ' ');
        } else {
            line.resize(column_width_, ' ');
        }
        return line + Wrapped(text, column_width_) + '\n';
    }

    std::string Synopsis(const CLI::App* app) const {
        const auto found = m_synopsis.find(app->get_name());
        return found == m_synopsis.end() || found->second.empty() ? "" : " " + found->second;
    }
    // The first line of the description; the lines after it are for the command's own help.
    static std::string Summary(const CLI::App* app) {
        const std::string& text = app->get_description();
        return text.substr(0, text.find('\n'));
    }

    std::map<std::string, std::string> m_synopsis;
};

std::optional<long> WholeNumber(std::string_view text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string CheckSeconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 1 || value > 86400) {
        return "takes a number of seconds from 1 to 86400";
    }
    return {};
}

std::string CheckCount(const std::string& text) {
    const std::optional<long> value = WholeNumber(text);
    return value && *value >= 1 ? std::string() : "takes a whole number of 1 or more";
}

// A time limit: seconds, fractions allowed, from a millisecond to a day.
std::string CheckTimeLimit(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0.001 || value > 86400) {
        return "takes a number of seconds from 0.001 to 86400";
    }
    return {};
}

std::chrono::milliseconds Milliseconds(const std::string& seconds) {
    return std::chrono::ceil<std::chrono::milliseconds>(
        std::chrono::duration<double>(std::strtod(seconds.c_str(), nullptr)));
}

#ifdef VELMO_TEST_SEAMS
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

#endif

// "velmo-cli 1.0.0.0": the program and the project's version, as packages write it.
std::string VersionLine() {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    return "velmo-cli " + std::to_string(version.Major()) + '.' + std::to_string(version.Minor()) +
           '.' + std::to_string(version.Build()) + '.' + std::to_string(version.Revision());
}

// Builds the parser; the options write straight into `line`.
class CParser {
public:
    explicit CParser(CommandLine& line) : m_line(line) {
        m_app.formatter(m_formatter);
        m_app.set_help_flag("-h,--help",
                            "this text; COMMAND --help or help COMMAND for a command's options");
        m_app.set_version_flag("--version", VersionLine, "the version line");
        m_app.require_subcommand(1);
        m_formatter->column_width(28);
        AddSpider();
        AddProbe();
        AddPoll();
        AddDetect();
        AddGateway();
    }

    CLI::App& App() { return m_app; }

private:
    CLI::App* Command(const std::string& name, std::string synopsis, const std::string& text) {
        CLI::App* command = m_app.add_subcommand(name, text);
        command->group("Commands");
        command->set_help_flag("-h,--help", "this text");
        command->allow_extras();  // refused after parsing, in plainer words
        m_formatter->SetSynopsis(name, std::move(synopsis));
        return command;
    }

    template <class T>
    static CLI::Option* Optional(CLI::App* command, const std::string& name,
                                 std::optional<T>& value, const std::string& text) {
        return command->add_option_function<T>(
            name, [&value](const T& given) { value = given; }, text);
    }

    void Login(CLI::App* command, const std::string& what) {
        command->add_option("--login", m_line.login, "the login name for " + what)
            ->type_name("LOGIN");
        command->add_flag("--password-stdin", m_line.bPasswordStdin,
                          "the password is the first line of standard input");
        Optional(command, "--password-file", m_line.passwordFile,
                 "the first line of FILE, your own file that only you can read and write, is the "
                 "password")
            ->type_name("FILE");
    }

    void Detection(CLI::App* command) {
        command
            ->add_option("--detect-url", m_line.detectUrls,
                         "ask URL instead of the detection servers in force (repeatable)")
            ->type_name("URL")
            ->allow_extra_args(false)
            ->check([](const std::string& url) {
                return IsDetectionServerUrl(url) ? std::string()
                                                 : url + " is not http://HOST[:PORT][/PATH]";
            });
    }

    void Exclude(CLI::App* command) {
        command
            ->add_option("--exclude", m_line.exclude,
                         "addresses that are not the public one: A.B.C.D, A.B.*.*, LOW - HIGH")
            ->type_name("TEXT");
    }

    void AllowReserved(CLI::App* command) {
        command->add_flag("--allow-reserved", m_line.bAllowReserved,
                          "accept private, loopback and other reserved addresses too");
    }

    // The time limits of HTTP requests, public; the tests shorten the others with --test-timeouts.
    void TimeLimits(CLI::App* command) {
        command
            ->add_option_function<std::string>(
                "--connect-timeout",
                [this](const std::string& seconds) {
                    m_line.timeouts.connect = Milliseconds(seconds);
                },
                "give up a request whose connection (name lookup included) is not made within "
                "SECONDS (10)")
            ->type_name("SECONDS")
            ->check(CheckTimeLimit);
        command
            ->add_option_function<std::string>(
                "--max-time",
                [this](const std::string& seconds) {
                    m_line.timeouts.total = Milliseconds(seconds);
                },
                "give up a request, redirects included, that takes longer than SECONDS (60)")
            ->type_name("SECONDS")
            ->check(CheckTimeLimit);
    }

    void Verbose(CLI::App* command) {
        command->add_flag("-V,--verbose", m_line.bVerbose,
                          "print each request on standard error: method, URL, status, bytes and "
                          "time taken");
    }

#ifdef VELMO_TEST_SEAMS
    void TestLookupLimit(CLI::App* command) {
        command
            ->add_option_function<long>(
                "--test-lookup-limit",
                [this](long ms) { m_line.lookupLimit = std::chrono::milliseconds(ms); })
            ->check(CheckMilliseconds)
            ->group("");
    }

    void TestLimits(CLI::App* command) {
        command
            ->add_option_function<std::string>(
                "--test-timeouts",
                [this](const std::string& text) {
                    const std::optional<HttpTimeouts> timeouts = ParseTimeouts(text);
                    if (!timeouts) {
                        throw CLI::ValidationError("--test-timeouts",
                                                   "takes CONNECT_MS,STALL_MS,TOTAL_MS");
                    }
                    m_line.timeouts = *timeouts;
                })
            ->group("");
    }

    void TestGatewayLimits(CLI::App* command) {
        command
            ->add_option_function<std::string>(
                "--test-gateway-limits",
                [this](const std::string& text) {
                    const std::optional<GatewayLimits> limits = ParseGatewayLimits(text);
                    if (!limits) {
                        throw CLI::ValidationError("--test-gateway-limits",
                                                   "takes SEARCH_MS,REQUEST_MS, each from 1 "
                                                   "to 86400000");
                    }
                    m_line.gatewayLimits = *limits;
                })
            ->group("");
    }

#else
    // A build without tests has no test seams.
    static void TestLookupLimit(CLI::App*) {}
    static void TestLimits(CLI::App*) {}
    static void TestGatewayLimits(CLI::App*) {}
    static void TestInterval(CLI::App*) {}
    static void TestListServers(CLI::App*) {}
#endif

    // --igd and --natpmp: the gateway to ask instead of the one found on the network.
    void GatewayTargetOptions(CLI::App* command) {
        command
            ->add_option("--igd", m_line.igdUrl,
                         "ask the UPnP IGD whose root description is at URL instead of searching "
                         "for one")
            ->type_name("URL")
            ->check([](const std::string& url) {
                return CrackIgdUrl(url) ? std::string()
                                        : url + " is not http://A.B.C.D[:PORT][/PATH]";
            });
        command
            ->add_option("--natpmp", m_line.natpmpGateway,
                         "ask NAT-PMP of ADDRESS instead of the default route's gateway")
            ->type_name("ADDRESS")
            ->check([](const std::string& address) {
                return ParseDottedQuad(address).value_or(0) != 0
                           ? std::string()
                           : address + " is not an address A.B.C.D";
            });
    }

    void AddSpider() {
        CLI::App* spider =
            Command("spider", "HOST[:PORT]",
                    "find the router pages that show the public address\n"
                    "Crawls the router's pages from \"/\" and lists every page that shows the "
                    "public address. When none does, asks the router itself (UPnP IGD, then "
                    "NAT-PMP) and says on standard error why no page can show it, if its WAN "
                    "address tells.\nExit status: 0 found, 1 none found, 2 no public address, 3 "
                    "cancelled, 64 usage, 73 report not written (cannot create output).");
        spider->add_option("HOST", m_line.router);
        Login(spider, "the router's pages");
        Optional(spider, "--external-address", m_line.externalAddress,
                 "look for ADDRESS instead of detecting the public address")
            ->type_name("ADDRESS");
        spider->add_flag("--list-parsed", m_line.bListParsed,
                         "print \"Parsed: PATH\" for every page read");
        spider->add_flag("--deep", m_line.bDeep,
                         "also follow frames, scripts and refresh targets, and page names in "
                         "script text");
        Optional(spider, "--report", m_line.report,
                 "write the report of the pages read to FILE, a new file or a regular one")
            ->type_name("FILE");
        Detection(spider);
        TimeLimits(spider);
        Verbose(spider);
        TestLimits(spider);
        TestLookupLimit(spider);
        TestGatewayLimits(spider);
    }

    void AddProbe() {
        CLI::App* probe = Command("probe", "URL",
                                  "print the first acceptable address on one page\n"
                                  "Prints the first acceptable address of the page, or n/a.\n"
                                  "Exit status: 0 found, 1 not, 3 interrupted.");
        probe->add_option("URL", m_line.url);
        Login(probe, "the page");
        AllowReserved(probe);
        Exclude(probe);
        TimeLimits(probe);
        Verbose(probe);
        TestLimits(probe);
    }

    void AddPoll() {
        CLI::App* poll =
            Command("poll", "[HOST[:PORT] PATH]",
                    "print the address a router page shows, every interval\n"
                    "Reads the page (with --gateway: asks the router itself, as the gateway "
                    "command does) at once and then once per interval, and prints the time and "
                    "the address, or n/a.\nExit status: 0, 3 when interrupted.");
        poll->add_option("HOST", m_line.router);  // with PATH, unless --gateway
        poll->add_option("PATH", m_line.path);
        Login(poll, "the router's pages");
        Exclude(poll);
        poll->add_option("--interval", m_line.interval,
                         "the time between two readings, 1 to 86400 (60)")
            ->type_name("SECONDS")
            ->check(CheckSeconds);
        Optional(poll, "--count", m_line.count, "stop after N readings")
            ->type_name("N")
            ->check(CheckCount);
        Optional(poll, "--on-change", m_line.onChange,
                 "run CMD with /bin/sh -c each time the address changes; it finds the address in "
                 "VELMO_ADDRESS, the one before in VELMO_PREVIOUS_ADDRESS")
            ->type_name("CMD");
        poll->add_flag("--gateway", m_line.bGateway,
                       "ask the router itself (UPnP IGD, then NAT-PMP) instead of reading a page; "
                       "takes no HOST, PATH, login or exclusions");
        GatewayTargetOptions(poll);
        Optional(poll, "--state", m_line.state,
                 "keep the last address read in FILE, so that --on-change runs only when the "
                 "address differs from the one before, across restarts")
            ->type_name("FILE");
        poll->add_flag("-q,--quiet", m_line.bQuiet, "print only changes of the address and errors");
        TimeLimits(poll);
        Verbose(poll);
        TestLimits(poll);
        TestGatewayLimits(poll);
        TestInterval(poll);
    }

#ifdef VELMO_TEST_SEAMS
    void TestInterval(CLI::App* poll) {
        poll->add_option_function<long>(
                "--test-interval",
                [this](long ms) { m_line.testInterval = std::chrono::milliseconds(ms); })
            ->check(CheckMilliseconds)
            ->group("");
    }

    void TestListServers(CLI::App* detect) {
        detect->add_flag("--test-list-servers", m_line.bTestListServers)->group("");
    }
#endif

    void AddDetect() {
        CLI::App* detect =
            Command("detect", "",
                    "print this machine's public address\n"
                    "Prints this machine's public address.\nExit status: 0 found (with "
                    "--each: one server answered), 2 not, 3 interrupted.");
        AllowReserved(detect);
        Detection(detect);
        detect->add_flag("--each", m_line.bEach,
                         "ask every server once, in list order; print each one's URL, address or "
                         "why none, and time taken");
        detect->add_flag("--gateway-check", m_line.bGatewayCheck,
                         "ask the router too (UPnP IGD, then NAT-PMP) and say on standard error "
                         "what its WAN address means; not with --each");
        GatewayTargetOptions(detect);
        TimeLimits(detect);
        Verbose(detect);
        TestLimits(detect);
        TestGatewayLimits(detect);
        TestListServers(detect);
    }

    void AddGateway() {
        CLI::App* gateway =
            Command("gateway", "",
                    "print the router's WAN address, as the router tells it\n"
                    "Asks the router by UPnP IGD, then by NAT-PMP, and prints its WAN address and "
                    "where it came from.\nExit status: 0 an address, 1 the router has none of its "
                    "own, 2 no answer, 3 interrupted.");
        GatewayTargetOptions(gateway);
        gateway->add_flag("--each", m_line.bEach,
                          "ask by each method once; print what was asked, the address, none or "
                          "why no answer, and time taken");
        Verbose(gateway);
        TestGatewayLimits(gateway);
    }

    CommandLine& m_line;
    CLI::App m_app{"", "velmo-cli"};
    std::shared_ptr<CHelpFormatter> m_formatter = std::make_shared<CHelpFormatter>();
};

}  // namespace

namespace {

const CLI::App* FindCommand(const CLI::App& app, std::string_view name) {
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->get_name() == name) {
            return command;
        }
    }
    return nullptr;
}

// Before the command: --help, --version, or an option that belongs after a command.
std::optional<int> RefuseLeadingOption(const CLI::App& app, const std::string& arg) {
    if (arg == "-h" || arg == "--help" || arg == "--version") {
        return std::nullopt;
    }
    const std::string name = arg.substr(0, arg.find('='));
    const std::vector<const CLI::App*> commands = app.get_subcommands({});
    const bool bCommandOption =
        std::any_of(commands.begin(), commands.end(), [&](const CLI::App* command) {
            return name.size() > 1 && command->get_option_no_throw(name) != nullptr;
        });
    if (bCommandOption) {
        Say(Priority::Error, EscapeControls(name) +
                                 " goes after a command, as in velmo-cli probe URL " +
                                 EscapeControls(name) + "; velmo-cli --help lists the commands");
    } else {
        Say(Priority::Error,
            "unknown option " + EscapeControls(name) + "; velmo-cli --help lists the commands");
    }
    return kExitUsage;
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine& line) {
    CParser parser(line);
    CLI::App& app = parser.App();
    if (argc < 2) {
        std::cerr << app.help();
        return kExitUsage;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    // "help COMMAND" is "COMMAND --help", "help" alone is "--help".
    if (args.front() == "help") {
        if (args.size() > 2 || (args.size() == 2 && FindCommand(app, args[1]) == nullptr)) {
            Say(Priority::Error,
                "help takes one command of velmo-cli --help, not " + EscapeControls(args.back()));
            return kExitUsage;
        }
        args = args.size() == 2 ? std::vector<std::string>{args[1], "--help"}
                                : std::vector<std::string>{"--help"};
    }
    if (args.front().starts_with('-')) {
        if (const std::optional<int> refused = RefuseLeadingOption(app, args.front())) {
            return refused;
        }
    }
    try {
        std::reverse(args.begin(), args.end());  // CLI11 takes them last first
        app.parse(args);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);
        }
        const std::string first = argv[1];
        if (!first.starts_with('-') && FindCommand(app, first) == nullptr) {
            Say(Priority::Error, "unknown command " + EscapeControls(first) +
                                     "; velmo-cli --help lists the commands");
        } else {
            Say(Priority::Error, EscapeControls(error.what()));
        }
        return kExitUsage;
    }
    const CLI::App* command = app.get_subcommands().front();
    line.command = command->get_name();
    std::vector<std::string> extras = command->remaining();
    std::erase(extras, "--");  // left over once the arguments after it were taken
    if (!extras.empty()) {
        const auto option = std::find_if(extras.begin(), extras.end(), [](const std::string& arg) {
            return arg.starts_with('-');
        });
        if (option != extras.end()) {
            Say(Priority::Error, line.command + " has no option " +
                                     EscapeControls(option->substr(0, option->find('='))) +
                                     "; velmo-cli " + line.command + " --help lists its options");
        } else {
            Say(Priority::Error, line.command + " takes no argument " +
                                     EscapeControls(extras.front()) + "; velmo-cli " +
                                     line.command + " --help");
        }
        return kExitUsage;
    }
    if ((line.command == "spider" && line.router.empty()) ||
        (line.command == "probe" && line.url.empty())) {
        Say(Priority::Error, line.command + " needs " +
                                 (line.command == "spider" ? "HOST[:PORT], the router's address"
                                                           : "URL, the page to read") +
                                 "; velmo-cli " + line.command + " --help");
        return kExitUsage;
    }
    if (line.bPasswordStdin && line.passwordFile) {
        Say(Priority::Error, "--password-file and --password-stdin exclude each other");
        return kExitUsage;
    }
    return std::nullopt;
}
