#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;  // exit code, or 128 + the signal that ended it
    std::string out;
    std::string err;
    // Peak resident set of the child, in KiB. It starts at the caller's own resident set at the
    // fork, which the child inherits until it runs the program.
    long peakRssKiB = 0;
    bool bKilled = false;                    // outlived its deadline and was killed
    std::vector<std::string> Lines() const;  // of `out`
};

// Runs args[0] with the other args, feeding `input` on its standard input and collecting its
// output. `whileRunning` gets the child's pid once it has started. `environment` entries
// ("NAME=value") are added to this process's environment for the child. With `holdInput` the
// child's standard input stays open, after `input`, until `whileRunning` has returned. A child
// still running `deadline` after its start (0: no deadline) is killed, so a hang fails the test
// rather than holding it.
ProcessResult RunProgram(std::vector<std::string> args, const std::string& input = {},
                         const std::function<void(pid_t)>& whileRunning = {},
                         const std::vector<std::string>& environment = {}, bool holdInput = false,
                         std::chrono::milliseconds deadline = {});

// In a forked child: adds `environment` ("NAME=value") to the environment and runs args[0] with
// the other args; exits 127 when it cannot.
[[noreturn]] void ExecProgram(std::vector<std::string>& args,
                              const std::vector<std::string>& environment);

// True once the process has its SIGINT handler, so a Ctrl-C goes to it, not to the default.
bool CatchesInterrupt(pid_t pid);
