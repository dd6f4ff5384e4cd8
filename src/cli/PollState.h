#pragma once

#include <optional>
#include <string>

// poll --state: the last address read, kept in a file across runs so that a restart is no change.
// The file holds the address in dotted decimal and a line end.

// The address the file at `path` keeps; nullopt when there is none yet. A file that holds no
// address, or cannot be read, is said as a warning and counts as none.
std::optional<std::string> LoadPollState(const std::string& path);

// Keeps `address` in the file at `path`: written to a new file beside it and renamed over it, so
// that a stop or a crash leaves either the old address or the new one, never half of one. A
// failure is said as an error; polling goes on.
void SavePollState(const std::string& path, const std::string& address);
