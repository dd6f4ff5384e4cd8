#pragma once

#include <ctime>
#include <string>

// The local time of a read as the polling log shows it ("%c"); empty when it cannot be formatted.
std::string FormatPollTime(std::time_t when);

// One line of the polling log, without its line end: the local time ("%c") right-aligned in 24
// characters, " - ", then the address text or "n/a", and after "n/a" ": " and the reason when
// one is given ("n/a: HTTP 404"). A time that cannot be formatted is empty.
std::string FormatPollLine(std::time_t when, const std::string& result,
                           const std::string& reason = {});
