#pragma once

#include <string>
#include <vector>

// The HTML report of every parsed page: title, heading, one line per path, the legal notice.
// Paths and notice are escaped, so a router page cannot put markup into the report.
std::string BuildParsedPagesReport(const std::vector<std::string>& paths);

std::string EscapeHtml(const std::string& text);
