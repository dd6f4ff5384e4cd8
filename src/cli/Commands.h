#pragma once

#include <memory>
#include <vector>

#include "cli/Command.h"

// velmo-cli's commands, in the order --help lists them.
std::vector<std::unique_ptr<CCommand>> MakeCommands();

// Each command's unit makes its own.
std::unique_ptr<CCommand> NewSpiderCommand();   // SpiderCommand.cpp
std::unique_ptr<CCommand> NewProbeCommand();    // ProbeCommand.cpp
std::unique_ptr<CCommand> NewPollCommand();     // PollCommand.cpp
std::unique_ptr<CCommand> NewDetectCommand();   // DetectCommand.cpp
std::unique_ptr<CCommand> NewGatewayCommand();  // GatewayCommand.cpp
std::unique_ptr<CCommand> NewTrustCommand();    // TrustCommand.cpp
