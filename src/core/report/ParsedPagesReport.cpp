#include "core/report/ParsedPagesReport.h"

#include "core/text/Ascii.h"
#include "core/text/ShownText.h"
#include "core/text/StringTable.h"
#include "core/version/ModuleVersion.h"

namespace {

// Appends `text` to `out` with "&", "<", ">" and '"' as character references; the rest goes over in
// runs.
void AppendHtmlEscaped(std::string& out, std::string_view text) {
    std::size_t run = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (at + 8 <= text.size()) {
            const std::uint64_t word = WordAt(text.data() + at);
            if (!AnyByteIs(word, '&') && !AnyByteIs(word, '<') && !AnyByteIs(word, '>') &&
                !AnyByteIs(word, '"')) {
                at += 7;
                continue;
            }
        }
        const char* reference = nullptr;
        switch (text[at]) {
            case '&':
                reference = "&amp;";
                break;
            case '<':
                reference = "&lt;";
                break;
            case '>':
                reference = "&gt;";
                break;
            case '"':
                reference = "&quot;";
                break;
            default:
                continue;
        }
        out.append(text.substr(run, at - run)).append(reference);
        run = at + 1;
    }
    out.append(text.substr(run));
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    AppendHtmlEscaped(out, EscapeUnsafeText(text));
    return out;
}

std::string ParsedPagesReportHead(std::string_view router) {
    return "<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>" +
           EscapeHtml(LoadString(IDS_APP_TITLE)) +
           "</title>\r\n</head>\r\n\r\n<body>\r\n<h1>Parsed Pages</h1>\r\n" +
           (router.empty() ? std::string()
                           : "<p>Read over https from " + EscapeHtml(router) + "</p>\r\n") +
           "<p>\r\n";
}

void AppendParsedPagesReportLine(std::string& out, std::string_view path, PageOrigin origin,
                                 bool bAfterLogin) {
    AppendHtmlEscaped(out, EscapeUnsafeText(path));
    out += OriginMark(origin, bAfterLogin);
    out += "<br>\r\n";
}

std::string ParsedPagesReportFoot(bool bMarked, bool bAfterLogin) {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    std::string foot = "</p>\r\n";
    if (bMarked) {
        foot +=
            "<p>(script): found only by the search of scripts, frames and refresh targets, not "
            "through a link. (script, not requested): found so, and not requested, because its "
            "name suggests an action such as a restart or a log-out.</p>\r\n";
    }
    if (bAfterLogin) {
        foot +=
            "<p>(after login): read once the router's login form had let Velmo in with the login "
            "and password given.</p>\r\n";
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
