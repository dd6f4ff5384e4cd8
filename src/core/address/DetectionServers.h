#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The user's own list of detection servers replaces the built-in ten when it holds at least one
// usable entry. It is a plain file of its own, written by hand and never by the program: one URL a
// line, blank lines and lines starting with "#" ignored.

inline constexpr std::size_t kMaxDetectionServersBytes = 1024 * 1024;

// True for "http://host[:port][/path]": a plain http URL with a host, an optional port from 1 to
// 65535 and an optional path; nothing else (no user name, query or fragment).
bool IsDetectionServerUrl(std::string_view url);

// $XDG_CONFIG_HOME/velmo/servers, or ~/.config/velmo/servers; empty when neither is known.
std::string DetectionServersFilePath();

struct DetectionServersFile {
    std::vector<std::string> servers;   // the usable entries, in file order
    std::vector<std::string> warnings;  // one line each, naming the file: what was not used, why
};

// The list in the file at `path`. A missing file is an empty list. A file over
// kMaxDetectionServersBytes is refused whole rather than cut, and anything but a regular file (a
// FIFO, a device, a folder) is never opened for reading, so nothing here waits on a writer.
DetectionServersFile ReadDetectionServers(const std::string& path);
