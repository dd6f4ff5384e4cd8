#include "cli/Commands.h"

std::vector<std::unique_ptr<CCommand>> MakeCommands() {
    std::vector<std::unique_ptr<CCommand>> commands;
    commands.push_back(NewSpiderCommand());
    commands.push_back(NewProbeCommand());
    commands.push_back(NewPollCommand());
    commands.push_back(NewDetectCommand());
    commands.push_back(NewGatewayCommand());
    commands.push_back(NewTrustCommand());
    return commands;
}
