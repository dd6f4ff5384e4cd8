#include "core/net/ScriptScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines Names(std::string_view script) {
    Lines names;
    FindScriptNames(script, [&](std::string_view name) { names.emplace_back(name); });
    return names;
}

TEST(FindScriptNames, TakesPageNamesFromStringsOnly) {
    const struct {
        const char* script;
        Lines names;
    } cases[] = {
        {"go('a.asp'); go(\"sub/b.htm\"); c.asp", {"a.asp", "sub/b.htm"}},
        {"x = 'menu.js?v=2#top'", {"menu.js"}},
        {"d.write('<iframe src=\"x.cgi\" width=100>')", {"x.cgi"}},
        {"d.write(\"<a href=\\\"esc.asp\\\">\")", {"esc.asp"}},
        {"// 'c.asp'\n/* \"d.asp\" */ e = 'e.asp' // it's", {"e.asp"}},
        {"r = /'[/']/g; s = 'f.asp'", {"f.asp"}},
        {"n = a / 2; t = 'g.asp' / 3; u = (b) / 'h.asp'", {"g.asp", "h.asp"}},
        {"if (x) return /\"/.test(y); z = 'i.asp'", {"i.asp"}},
        {"p = \"adv_\" + type + \".asp\"", {}},
        {"'UPPER.ASP', 'readme.txt', 'x.asp.bak', '/.htm', 'v.JSON'", {"UPPER.ASP", "v.JSON"}},
        {"'status.html, info.htm' 'line.asp\nk.asp'", {"status.html", "info.htm", "line.asp"}},
        {"`tmpl.asp ${v}\nnext.stm`; 'http://192.168.1.1:8080/s.asp'",
         {"tmpl.asp", "next.stm", "http://192.168.1.1:8080/s.asp"}},
        {"'cut.asp", {"cut.asp"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Names(c.script), c.names) << c.script;
    }
}

TEST(FindDeepLinks, TakesWhatABrowserLoadsAndRunsInDocumentOrder) {
    Lines links;
    FindDeepLinks(
        "<!-- <iframe src=\"old.htm\"> --><SCRIPT SRC=x.js></SCRIPT><meta content=\"0;url=n.htm\">"
        "<IFRAME src=\"javascript:go('j.htm')\"><a href=x onClick='go(\"c.htm\")'>"
        "<meta content=\"3\" http-equiv=refresh><meta http-equiv=REFRESH content=\"1;x.htm\">"
        "<script>'</script>'<frame name=a src=f.htm>",
        [&](DeepLinkKind kind, std::string_view text) {
            static const char* const kKinds[] = {"loaded ", "script ", "name "};
            links.push_back(kKinds[static_cast<int>(kind)] + std::string(text));
        });
    EXPECT_EQ(links,
              (Lines{"script x.js", "name j.htm", "name c.htm", "loaded x.htm", "loaded f.htm"}));
}

TEST(NamesAnAction, LooksAtEverySegmentItsParametersAndTheQuery) {
    EXPECT_TRUE(NamesAnAction("/a/Logout.asp"));
    EXPECT_TRUE(NamesAnAction("/st_FIRMWARE.htm"));
    EXPECT_TRUE(NamesAnAction("/apply.cgi?action=Reboot"));
    EXPECT_TRUE(NamesAnAction("/logout/status.asp"));
    EXPECT_TRUE(NamesAnAction("/cgi-bin/reboot.cgi/status.htm"));
    EXPECT_TRUE(NamesAnAction("/erase.cgi;x=1/status.htm"));
    EXPECT_FALSE(NamesAnAction("/status.asp#reset"));
    EXPECT_FALSE(NamesAnAction("/status.asp"));
    // As the router decodes it, whatever the escapes; the path itself is requested as written.
    EXPECT_TRUE(NamesAnAction("/%72eboot.cgi"));
    EXPECT_TRUE(NamesAnAction("/Log%4fut.asp"));
    EXPECT_TRUE(NamesAnAction("/apply.cgi?do=%52%45SET"));
    EXPECT_TRUE(NamesAnAction("/x%2Ffactory.htm"));
    EXPECT_TRUE(NamesAnAction("/%72eboot/status.asp"));
    EXPECT_TRUE(NamesAnAction("/%2572eboot.cgi/status.asp"));
    EXPECT_FALSE(NamesAnAction("/status.asp?x=%4"));
    // Encoded over and over, a name is an action rather than decoded round after round.
    EXPECT_TRUE(NamesAnAction("/%2525252541.htm"));
    std::string deep = "/%";
    for (int n = 0; n < 20000; ++n) {
        deep += "25";
    }
    EXPECT_TRUE(NamesAnAction(deep + "41.htm"));
}

}  // namespace
