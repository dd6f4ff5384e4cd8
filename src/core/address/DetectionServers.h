#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The user's own list of detection servers replaces the built-in ten. It is a plain file of its
// own, written by hand and never by the program: one URL a line, blank lines and lines starting
// with "#" ignored, and a "#" after white space starting a comment. A list that is there but gives
// no usable entry is an error of its own, never the built-in ten.

inline constexpr std::size_t kMaxDetectionServersBytes = 1024 * 1024;

// True for "http://host[:port][/path]": a plain http URL with a host, an optional port from 1 to
// 65535 and an optional path; nothing else (no user name, query or fragment).
bool IsDetectionServerUrl(std::string_view url);

// $XDG_CONFIG_HOME/velmo/servers, or ~/.config/velmo/servers; empty when neither is known.
std::string DetectionServersFilePath();

// Lines skipped that get a warning each; the rest are counted in one more.
inline constexpr std::size_t kShownSkippedLines = 3;

struct DetectionServersFile {
    std::vector<std::string> servers;  // the usable entries, in file order
    // One line each, naming the file: the first kShownSkippedLines lines skipped and why, then how
    // many more were.
    std::vector<std::string> warnings;
    // Why the file, there, gives no server: unreadable, not a regular file, too large, or no usable
    // line. Empty when it gives some, or is not there.
    std::string unusable;
};

// The list in the file at `path`. A missing file is an empty list, which leaves the built-in ten in
// force. A file over kMaxDetectionServersBytes is refused whole rather than cut, and anything but a
// regular file (a FIFO, a device, a folder) is never opened for reading, so nothing here waits on
// a writer.
DetectionServersFile ReadDetectionServers(const std::string& path);
