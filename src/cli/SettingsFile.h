#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The window's settings file, read-only: velmo-cli takes the user's own detection servers from it.

inline constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;

// $XDG_CONFIG_HOME/Ravik/Velmo.ini, or ~/.config/Ravik/Velmo.ini; empty when neither is known.
std::string SettingsFilePath();

// The file's text, at most kMaxSettingsBytes of it; nullopt when it is not a regular file that can
// be read. A FIFO or a device is never waited on.
std::optional<std::string> ReadSettingsText(const std::string& path);

// The "Servers" entry of the "Detection" section as a list, read as the window's settings store
// writes one: values separated by commas, each possibly in double quotes with backslash escapes.
// nullopt when there is no such entry.
std::optional<std::vector<std::string>> DetectionServerEntries(std::string_view ini);
