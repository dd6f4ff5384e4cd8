#pragma once

#include <string>
#include <vector>

// What velmo's command line asks for. It is read before the window system starts, so that help,
// the version and a usage error answer where no window can open; the window system's own options
// (-platform NAME, -display NAME, -style NAME, --reverse and the like) are left to it.
struct StartOptions {
    enum class Request { Window, Help, Version, Unknown };
    Request request = Request::Window;
    bool bBackground = false;  // --background: a start at login
    std::string strUnknown;    // the first argument not understood
};

StartOptions ParseStartOptions(const std::vector<std::string>& args);

// The texts --help and --version print, and the usage line that follows an error.
std::string StartHelp();
std::string StartVersion();
std::string StartUsage();
