#include "core/report/ParsedPagesReport.h"

#include "core/text/StringTable.h"
#include "core/version/ModuleVersion.h"

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
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

std::string BuildParsedPagesReport(const std::vector<std::string>& paths) {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    std::string report = "<html>\r\n<head>\r\n<title>" + EscapeHtml(LoadString(IDS_APP_TITLE)) +
                         "</title>\r\n</head>\r\n\r\n<body>\r\n<h1>Parsed Pages</h1>\r\n<p>\r\n";
    for (const std::string& path : paths) {
        report += EscapeHtml(path) + "<br>\r\n";
    }
    report += "</p>\r\n<p>" + EscapeHtml(version.QueryString("LegalCopyright")) +
              "</p>\r\n</body>\r\n</html>";
    return report;
}
