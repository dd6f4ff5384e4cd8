#pragma once

#include "cli/CommandLine.h"

// Runs the command and answers its exit status. Throws UsageError for a value it refuses.
int RunCommand(const CommandLine& line);
