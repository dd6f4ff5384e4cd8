#include "core/text/ShownText.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeUnsafeText, EscapesWhatCouldSteerTheReaderAndKeepsTheRest) {
    const struct {
        std::string text;
        std::string shown;
    } rows[] = {
        {"/status.htm?a=1&b=2", "/status.htm?a=1&b=2"},
        // Far into a long text, wherever it stands in a run of eight bytes.
        {"/abcdefghijklmno\x1b/abcdef\x7f/abcd\xe9/", "/abcdefghijklmno%1B/abcdef%7F/abcd%E9/"},
        {"/a\r\nb\x1b[2J\x7f", "/a%0D%0Ab%1B[2J%7F"},
        {std::string("/a\0b", 4), "/a%00b"},
        {"/caf\xc3\xa9/\xe2\x82\xac/\xf0\x9f\x98\x80",
         "/caf\xc3\xa9/\xe2\x82\xac/\xf0\x9f\x98\x80"},
        // C1 controls as characters and as raw bytes, CSI among them.
        {"/\xc2\x9b"
         "31m/\xc2\x85",
         "/%C2%9B31m/%C2%85"},
        {"/\x9b"
         "31m\x80",
         "/%9B31m%80"},
        // Bidirectional overrides, isolates and marks, line and paragraph separators.
        {"/\xe2\x80\xae"
         "exe.txt",
         "/%E2%80%AEexe.txt"},
        {"/\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c", "/%E2%81%A6x%E2%81%A9%E2%80%8F%D8%9C"},
        {"/\xe2\x80\xa8\xe2\x80\xa9", "/%E2%80%A8%E2%80%A9"},
        // Not UTF-8: Latin-1, overlong forms, surrogates, past U+10FFFF, cut short.
        {"/\xdc"
         "ber",
         "/%DCber"},
        {"/\xc0\xaf\xe0\x80\xaf", "/%C0%AF%E0%80%AF"},
        {"/\xed\xa0\x80", "/%ED%A0%80"},
        {"/\xf4\x90\x80\x80", "/%F4%90%80%80"},
        {"/\xe2\x82", "/%E2%82"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EscapeUnsafeText(row.text), row.shown) << row.shown;
    }
}

}  // namespace
