#include "core/net/Base64Encoder.h"

#include <gtest/gtest.h>

#include "core/net/HttpFetch.h"

namespace {

std::string Encode(const std::string& input) {
    CBase64Encoder encoder;
    EXPECT_TRUE(encoder.Encode(input.c_str()));
    std::string text = encoder.GetText();
    encoder.Release();
    return text;
}

TEST(CBase64Encoder, PadsPartialGroups) {
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("M"), "TQ==");
    EXPECT_EQ(Encode("Ma"), "TWE=");
    EXPECT_EQ(Encode("Man"), "TWFu");
    EXPECT_EQ(Encode("admin:secret"), "YWRtaW46c2VjcmV0");
}

TEST(CBase64Encoder, EncodesHighBytesAsUnsignedOctets) {
    EXPECT_EQ(Encode("\xFF\xFE\xFD"), "//79");
    EXPECT_EQ(Encode("a\x80z"), "YYB6");
    EXPECT_EQ(Encode("\xE9t\xE9"), "6XTp");
}

TEST(CBase64Encoder, BreaksLinesEvery76Characters) {
    const std::string exactly = Encode(std::string(57, 'x'));  // 76 characters
    ASSERT_EQ(exactly.size(), 78u);
    EXPECT_TRUE(exactly.ends_with("\r\n"));
    const std::string longer = Encode(std::string(58, 'x'));
    ASSERT_EQ(longer.find("\r\n"), 76u);
    EXPECT_EQ(longer.size(), 76u + 2 + 4);
    CBase64Encoder unused;
    EXPECT_EQ(unused.GetText(), "");
}

TEST(BuildAuthorizationHeader, JoinsOnlyTheCredentialsGiven) {
    EXPECT_EQ(BuildAuthorizationHeader("admin", "secret"),
              "Authorization: Basic YWRtaW46c2VjcmV0\r\n\r\n");
    EXPECT_EQ(BuildAuthorizationHeader("admin", ""), "Authorization: Basic YWRtaW4=\r\n\r\n");
    EXPECT_EQ(BuildAuthorizationHeader("", "secret"), "Authorization: Basic c2VjcmV0\r\n\r\n");
    EXPECT_EQ(BuildAuthorizationHeader("", ""), "");
    EXPECT_EQ(BuildAuthorizationHeader(" a ", "b"), "Authorization: Basic IGEgOmI=\r\n\r\n");
}

TEST(BuildAuthorizationHeader, LongCredentialsStayOnOneLine) {
    for (const std::size_t length : {57u, 58u, 200u}) {
        const std::string login(length - 2, 'u');
        const std::string header = BuildAuthorizationHeader(login, "p");
        EXPECT_EQ(header.find("\r\n"), header.size() - 4) << length;
    }
}

}  // namespace
