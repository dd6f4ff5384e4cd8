#pragma once

#include <ctime>
#include <string>

// One line of the polling log, without its line end: the local time ("%c") right-aligned in 24
// characters, " - ", then the address text or "n/a". A time that cannot be formatted is empty.
std::string FormatPollLine(std::time_t when, const std::string& result);
