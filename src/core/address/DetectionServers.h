#pragma once

#include <string>
#include <string_view>
#include <vector>

// The user's own list of detection servers (settings section "Detection", entry "Servers")
// replaces the built-in ten when it holds at least one usable entry.

// True for "http://host[:port][/path]": a plain http URL with a host, an optional port from 1 to
// 65535 and an optional path; nothing else (no user name, query or fragment).
bool IsDetectionServerUrl(std::string_view url);

// The usable entries in list order; the others go to `skipped` when it is given.
std::vector<std::string> UsableDetectionServers(const std::vector<std::string>& entries,
                                                std::vector<std::string>* skipped = nullptr);
