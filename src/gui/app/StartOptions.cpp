#include "gui/app/StartOptions.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/version/ModuleVersion.h"

namespace {

// The options the window system takes from the line (with one dash or two): those whose value is
// the next argument, those without one, and those whose value follows "=".
constexpr std::array<std::string_view, 16> kToolkitValued = {
    "platform",        "platformpluginpath",
    "platformtheme",   "plugin",
    "qwindowgeometry", "qwindowtitle",
    "qwindowicon",     "geometry",
    "title",           "icon",
    "display",         "name",
    "visual",          "session",
    "style",           "stylesheet"};
constexpr std::array<std::string_view, 6> kToolkitFlags = {"reverse", "testability", "widgetcount",
                                                           "sync",    "nograb",      "dograb"};
constexpr std::array<std::string_view, 3> kToolkitJoined = {
    "qmljsdebugger=", "style=", "stylesheet="};

// How many arguments from `arg` on are the window system's: 0, 1, or 2 with its value.
std::size_t ToolkitArguments(std::string_view arg) {
    if (!arg.starts_with('-') || arg == "-" || arg == "--") {
        return 0;
    }
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    const auto is = [arg](std::string_view name) { return arg == name; };
    if (std::any_of(kToolkitValued.begin(), kToolkitValued.end(), is)) {
        return 2;
    }
    const auto joined = [arg](std::string_view prefix) { return arg.starts_with(prefix); };
    return std::any_of(kToolkitFlags.begin(), kToolkitFlags.end(), is) ||
                   std::any_of(kToolkitJoined.begin(), kToolkitJoined.end(), joined)
               ? 1
               : 0;
}

}  // namespace

StartOptions ParseStartOptions(const std::vector<std::string>& args) {
    StartOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (const std::size_t toolkit = ToolkitArguments(args[i]); toolkit > 0) {
            i += toolkit - 1;
            continue;
        }
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.request = StartOptions::Request::Help;
            return options;
        }
        if (arg == "--version") {
            options.request = StartOptions::Request::Version;
            return options;
        }
        if (arg == "--background") {
            options.bBackground = true;
        } else if (options.strUnknown.empty()) {
            options.strUnknown = arg;
        }
    }
    if (!options.strUnknown.empty()) {
        options.request = StartOptions::Request::Unknown;
    }
    return options;
}

std::string StartUsage() {
    return "usage: velmo [--background]\n";
}

std::string StartHelp() {
    return StartUsage() +
           "\n"
           "Finds the page of a home router's web interface that shows the public IPv4\n"
           "address, and keeps reading it.\n"
           "\n"
           "Options:\n"
           "  --background              start in the tray (minimised without one) and resume\n"
           "                            polling if the last session ended polling\n"
           "  -h,--help                 this text\n"
           "  --version                 the version line\n";
}

std::string StartVersion() {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    return "velmo " + std::to_string(version.Major()) + '.' + std::to_string(version.Minor()) +
           '.' + std::to_string(version.Build()) + '.' + std::to_string(version.Revision()) + '\n';
}
