#pragma once

#include <atomic>
#include <chrono>

class CSpiderRun;

// Ctrl-C (SIGINT) and SIGTERM ask the command in progress to stop; a second one ends the program
// at once. Nothing of a stop request is lost: one that comes before a run exists cancels the run
// as soon as it is registered.
void InstallInterruptHandlers();

bool Interrupted();
const std::atomic<bool>& InterruptFlag();

// A descriptor that turns readable once a stop was requested, for poll() beside other waits.
int InterruptFd();

// Sleeps for `duration` or until a stop is requested; true when it was.
bool SleepUnlessInterrupted(std::chrono::milliseconds duration);

// While it lives, a stop request abandons `run` (detection and the transfer in flight included).
class CRunInterruption {
public:
    explicit CRunInterruption(CSpiderRun& run);
    ~CRunInterruption();
    CRunInterruption(const CRunInterruption&) = delete;
    CRunInterruption& operator=(const CRunInterruption&) = delete;
};
