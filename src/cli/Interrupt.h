#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <chrono>

// Ctrl-C (SIGINT) and SIGTERM ask the command in progress to stop; a second one ends the program
// at once. SIGPIPE is ignored, so that a connection the other end closed is an error of that
// request rather than the end of the program; a closed standard output ends it by SIGPIPE all the
// same, once the command has wound down (Output.h). An --on-change command starts with all three at
// their defaults. The handler only sets the flag and wakes the waits below: whatever must stop
// watches the flag (a spider run takes it as its abandon flag), so nothing of a stop request is
// lost and the handler touches nothing that may be going away.
void InstallInterruptHandlers();

bool Interrupted();
const std::atomic<bool>& InterruptFlag();

// The program's own stop request, as the first Ctrl-C asks it: the command in progress winds down
// the same way (its output is gone, say).
void RequestStop();

// Sleeps for `duration` or until a stop is requested; true when it was.
bool SleepUnlessInterrupted(std::chrono::milliseconds duration);

// Waits until `fd` (-1: none) is readable, a stop is requested or `deadline` passes; true when
// `fd` is readable. Signals cannot restart it: the handler wakes it through a pipe.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline);

// Terminal settings that a second stop request, which ends the program at once, puts back on `fd`
// first. Null forgets them.
void RestoreTerminalOnQuickExit(int fd, const termios* settings);

// What a second stop request also ends first: the process group of a command the program started
// (killed; 0: none) and the file at `path` (removed; null: none), which suits ReportFile's
// TemporaryNameHook.
void EndGroupOnQuickExit(pid_t group);
void RemoveOnQuickExit(const char* path);
