#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/spider/ParsedPageList.h"

// The HTML report of every parsed page: title, heading, one line per path, the legal notice. It is
// made of a head, one line per path and a foot, so that a list of any length can stream through.
// Paths and notice are escaped: a router page can put neither markup nor control bytes into the
// report, and the document is UTF-8 whatever bytes the router sent.

// `router`, when given, is the https URL the pages were read from, said below the heading; a plain
// router's report says none.
std::string ParsedPagesReportHead(std::string_view router = {});
// The line of one path, appended to `out`, marked when only deep discovery reached the page and
// when it was read after a login.
void AppendParsedPagesReportLine(std::string& out, std::string_view path,
                                 PageOrigin origin = PageOrigin::Link, bool bAfterLogin = false);
// With `bMarked` or `bAfterLogin`, a note before the legal notice says what the marks mean.
std::string ParsedPagesReportFoot(bool bMarked = false, bool bAfterLogin = false);

// Head, lines and foot as one text.
std::string BuildParsedPagesReport(const std::vector<std::string>& paths);

// "&", "<", ">" and '"' as character references; control bytes and bytes that are not UTF-8 as
// %XX, as terminal lines show them.
std::string EscapeHtml(std::string_view text);
