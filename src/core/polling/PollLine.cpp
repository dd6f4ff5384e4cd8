#include "core/polling/PollLine.h"

#include <cstdio>

std::string FormatPollTime(std::time_t when) {
    char time[128] = "";
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr ||
        std::strftime(time, sizeof time, "%c", &local) == 0) {
        time[0] = '\0';
    }
    return time;
}

std::string FormatPollLine(std::time_t when, const std::string& result, const std::string& reason) {
    char field[160];
    std::snprintf(field, sizeof field, "%24s - ", FormatPollTime(when).c_str());
    return field + result + (reason.empty() ? "" : ": " + reason);
}
