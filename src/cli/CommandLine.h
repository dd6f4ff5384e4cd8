#pragma once

#include <functional>

#include "cli/Command.h"

// What the build the tests run (velmo-cli-test, tests/cli/TestSeams.cpp) adds to each command once
// its own options are defined: hidden options that shorten its limits, a table that answers its
// host names. velmo-cli itself has none.
using TestSeams = std::function<void(CLI::App& command, CommandLimits& limits)>;

// The whole of velmo-cli: installs the stop handlers, parses the command line and checks it, then
// runs the command it names; answers the exit status. Help, the version and every usage error of
// the line end it before any command runs.
int RunVelmoCli(int argc, char** argv, const TestSeams& seams = {});
