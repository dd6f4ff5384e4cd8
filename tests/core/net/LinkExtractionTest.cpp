#include "core/net/LinkExtraction.h"

#include <gtest/gtest.h>

namespace {

// Every value FindNextLink gives for one tag and attribute, in order.
std::vector<std::string> Links(const char* page, const char* tag = "a",
                               const char* attribute = "href") {
    std::vector<std::string> values;
    const char* cursor = page;
    std::string value;
    while (FindNextLink(cursor, tag, attribute, value)) {
        values.push_back(value);
    }
    EXPECT_EQ(value, "");
    return values;
}

using Values = std::vector<std::string>;

TEST(FindNextLink, ReadsQuotedUnquotedAndApostropheValues) {
    EXPECT_EQ(Links("<a href=\"status.htm\">x</a>"), Values{"status.htm"});
    EXPECT_EQ(Links("<A HREF=\"status.htm\">x</A>"), Values{"status.htm"});
    EXPECT_EQ(Links("<a href = 'my page.htm'>"), Values{"my page.htm"});
    EXPECT_EQ(Links("<a href=main.htm>"), Values{"main.htm"});
    EXPECT_EQ(Links("<a href=main.htm\tclass=x>"), Values{"main.htm\tclass=x"});
    EXPECT_EQ(Links("<a href=\"\">"), Values{""});
    EXPECT_EQ(Links("<frame name=main src=\"/cgi-bin/main.asp\">", "frame", "src"),
              Values{"/cgi-bin/main.asp"});
    EXPECT_EQ(Links("<form method=post action=\"apply.cgi\">", "form", "action"),
              Values{"apply.cgi"});
}

TEST(FindNextLink, NeedsTheSpaceAfterTheTagName) {
    EXPECT_EQ(Links("<a\thref=\"x.htm\"> <a\nhref=\"y.htm\">"), Values{});
    EXPECT_EQ(Links("<abbr href=\"x.htm\"> <a href=\"y.htm\">"), Values{"y.htm"});
}

TEST(FindNextLink, WalksPastTagsWithoutTheAttribute) {
    EXPECT_EQ(Links("<a name=\"top\">Top</a> <a href=\"next.htm\">"), Values{"next.htm"});
    EXPECT_EQ(Links("<a href=\"1.htm\" href=\"2.htm\"> <a href=\"3.htm\">"),
              Values({"1.htm", "3.htm"}));
    EXPECT_EQ(Links("<!-- <a href=\"old.htm\"> --><script>s='<a href=\"js.htm\">'</script>"),
              Values({"old.htm", "js.htm"}));
}

TEST(FindNextLink, BareAttributesSwallowWhatFollows) {
    EXPECT_EQ(Links("<a disabled href=\"x.htm\">"), Values{});
    // The bare name runs past ">" up to the space after the next tag's name.
    EXPECT_EQ(Links("<a name>text</a><a href=\"x.htm\">"), Values{});
    EXPECT_EQ(Links("<a name>text</a> <a href=\"x.htm\">"), Values{"x.htm"});
}

TEST(FindNextLink, GivesUpTagsWithValuesOrNamesOf50Characters) {
    const std::string v49(49, 'v');
    const std::string v50(50, 'v');
    EXPECT_EQ(Links(("<a href=\"" + v49 + "\">").c_str()), Values{v49});
    EXPECT_EQ(Links(("<a href=\"" + v50 + "\"> <a href=\"ok.htm\">").c_str()), Values{"ok.htm"});
    const std::string n50(50, 'n');
    EXPECT_EQ(Links(("<a " + n50 + "=1 href=x> <a href=ok.htm>").c_str()), Values{"ok.htm"});
    const std::string longTag(48, 't');
    const char* cursor = "<tt>";
    std::string value = "kept";
    EXPECT_FALSE(FindNextLink(cursor, longTag.c_str(), "href", value));
    EXPECT_EQ(value, "kept");
}

TEST(FindNextLink, EndOfTextInsideATagFindsNothing) {
    EXPECT_EQ(Links("<a "), Values{});
    EXPECT_EQ(Links("<a href="), Values{});
    EXPECT_EQ(Links("<a href =  "), Values{});
    EXPECT_EQ(Links("<a href=\"open"), Values{"open"});
    const char* cursor = nullptr;
    std::string value;
    EXPECT_FALSE(FindNextLink(cursor, "a", "href", value));
}

TEST(FindNextLink, LeavesTheCursorOnTheClosingQuote) {
    const char* page = "<a href=\"\">";
    const char* cursor = page;
    std::string value;
    ASSERT_TRUE(FindNextLink(cursor, "a", "href", value));
    EXPECT_EQ(cursor, page + 9);
    const char* before = cursor;
    EXPECT_FALSE(FindNextLink(cursor, "a", "href", value));
    EXPECT_EQ(cursor, before);
}

}  // namespace
