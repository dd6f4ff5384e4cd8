// velmo-cli: the spider test, the address probe, polling and detection for scripts and terminals.
#include <iostream>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"

int main(int argc, char** argv) {
    InstallInterruptHandlers();
    CommandLine line;
    if (const std::optional<int> status = ParseCommandLine(argc, argv, line)) {
        return *status;
    }
    try {
        return RunCommand(line);
    } catch (const UsageError& error) {
        std::cerr << "velmo-cli: " << error.message << '\n';
        return kExitUsage;
    }
}
