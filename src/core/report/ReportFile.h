#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Writes `text` as a new file beside `path`, created exclusively with `mode` (less the umask), and
// renames it over `path`: a symbolic link planted at `path` is replaced, never followed, and a
// half-written report never stands. On failure `error` says why and `path` is as it was.
bool WriteReportFile(const std::string& path, std::string_view text, mode_t mode,
                     std::string& error);
