#include "gui/app/StartOptions.h"

#include "core/version/ModuleVersion.h"

StartOptions ParseStartOptions(const std::vector<std::string>& args) {
    StartOptions options;
    for (const std::string& arg : args) {
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
