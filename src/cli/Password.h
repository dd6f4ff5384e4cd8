#pragma once

#include <cstddef>
#include <string>

inline constexpr std::size_t kMaxPasswordBytes = 4096;

// The first line of `fd` without its line end (LF or CR LF: a CR before the LF is never part of
// the password). At most kMaxPasswordBytes + 2 bytes are read, so a huge input costs nothing; a
// longer line or one holding a NUL byte is refused with a UsageError naming `source`. A stop
// request ends the wait for input with what was read so far.
std::string ReadPasswordLine(int fd, const std::string& source);

// The first line of standard input. When it is a terminal, `prompt` goes to standard error and
// what is typed is not echoed; the terminal's settings come back on every way out, a stop request
// included.
std::string ReadPasswordFromStdin(const std::string& prompt);

// The first line of the file at `path`, which must be a regular file of the user's own that neither
// its group nor others can read or write.
std::string ReadPasswordFile(const std::string& path);
