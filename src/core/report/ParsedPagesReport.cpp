#include "core/report/ParsedPagesReport.h"

#include "core/text/ShownText.h"
#include "core/text/StringTable.h"
#include "core/version/ModuleVersion.h"

std::string EscapeHtml(std::string_view text) {
    const std::string shown = EscapeUnsafeText(text);
    std::string out;
    out.reserve(shown.size());
    for (const char c : shown) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string ParsedPagesReportHead() {
    return "<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>" +
           EscapeHtml(LoadString(IDS_APP_TITLE)) +
           "</title>\r\n</head>\r\n\r\n<body>\r\n<h1>Parsed Pages</h1>\r\n<p>\r\n";
}

void AppendParsedPagesReportLine(std::string& out, std::string_view path, PageOrigin origin) {
    out += EscapeHtml(path);
    out += OriginMark(origin);
    out += "<br>\r\n";
}

std::string ParsedPagesReportFoot(bool bMarked) {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    std::string foot = "</p>\r\n";
    if (bMarked) {
        foot +=
            "<p>(script): found only by the search of scripts, frames and refresh targets, not "
            "through a link. (script, not requested): found so, and not requested, because its "
            "name suggests an action such as a restart or a log-out.</p>\r\n";
    }
    return foot + "<p>" + EscapeHtml(version.QueryString("LegalCopyright")) +
           "</p>\r\n</body>\r\n</html>";
}

std::string BuildParsedPagesReport(const std::vector<std::string>& paths) {
    std::string report = ParsedPagesReportHead();
    for (const std::string& path : paths) {
        AppendParsedPagesReportLine(report, path);
    }
    return report + ParsedPagesReportFoot();
}
