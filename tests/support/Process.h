#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;  // exit code, or 128 + the signal that ended it
    std::string out;
    std::string err;
    std::vector<std::string> Lines() const;  // of `out`
};

// Runs args[0] with the other args, feeding `input` on its standard input and collecting its
// output. `whileRunning` gets the child's pid once it has started. `environment` entries
// ("NAME=value") are added to this process's environment for the child. With `holdInput` the
// child's standard input stays open, after `input`, until `whileRunning` has returned.
ProcessResult RunProgram(std::vector<std::string> args, const std::string& input = {},
                         const std::function<void(pid_t)>& whileRunning = {},
                         const std::vector<std::string>& environment = {}, bool holdInput = false);
