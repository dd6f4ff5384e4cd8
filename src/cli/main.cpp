// velmo-cli: the spider test, the address probe, polling and detection for scripts and terminals.
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"

int main(int argc, char** argv) {
    InstallInterruptHandlers();
    CommandLine line;
    if (const std::optional<int> status = ParseCommandLine(argc, argv, line)) {
        return *status;
    }
    try {
        return RunCommand(line);
    } catch (const UsageError& error) {
        Say(Priority::Error, error.message);
        return kExitUsage;
    } catch (const CommandError& error) {
        if (!error.message.empty()) {
            Say(Priority::Error, error.message);
        }
        return error.status;
    }
}
