#pragma once

#include <cstddef>
#include <string>

#include "cli/Exit.h"

inline constexpr std::size_t kMaxPasswordBytes = 4096;

// A password is the first line of its source without its line end (LF or CR LF: a CR before the
// LF is never part of the password). At most kMaxPasswordBytes + 2 bytes are read, so a huge input
// costs nothing; a longer line or one holding a NUL byte is refused as a usage error naming the
// source. A stop request ends the wait for input with what was read so far.

// The first line of standard input. When it is a terminal, `prompt` goes to standard error and
// what is typed is not echoed; the terminal's settings come back on every way out, a stop request
// included.
OrExit<std::string> ReadPasswordFromStdin(const std::string& prompt);

// The first line of the file at `path`, which must be a regular file of the user's own that neither
// its group nor others can read or write; anything else is refused as a usage error.
OrExit<std::string> ReadPasswordFile(const std::string& path);
