#include "core/report/ParsedPagesReport.h"

#include <gtest/gtest.h>

#include "core/version/ModuleVersion.h"

namespace {

TEST(BuildParsedPagesReport, ListsEveryPathInOrderLineByLine) {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    const std::string notice = version.QueryString("LegalCopyright");
    EXPECT_EQ(BuildParsedPagesReport({"/a.htm", "/b.htm"}),
              "<html>\r\n<head>\r\n<meta "
              "charset=\"utf-8\">\r\n<title>Velmo</title>\r\n</head>\r\n\r\n<body>\r\n"
              "<h1>Parsed Pages</h1>\r\n<p>\r\n/a.htm<br>\r\n/b.htm<br>\r\n</p>\r\n<p>" +
                  notice + "</p>\r\n</body>\r\n</html>");
}

TEST(BuildParsedPagesReport, EmptyListStillMakesADocument) {
    const std::string report = BuildParsedPagesReport(std::vector<std::string>{});
    EXPECT_NE(report.find("<p>\r\n</p>"), std::string::npos);
    EXPECT_TRUE(report.ends_with("</html>"));
}

TEST(BuildParsedPagesReport, EscapesMarkupInPathsAndNotice) {
    const std::string report =
        BuildParsedPagesReport({"/a.htm?x=1&y=2", "/\"><script>alert(1)</script>"});
    EXPECT_NE(report.find("/a.htm?x=1&amp;y=2<br>"), std::string::npos);
    EXPECT_NE(report.find("/&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;<br>"),
              std::string::npos);
    EXPECT_EQ(report.find("<script>"), std::string::npos);
    EXPECT_NE(BuildParsedPagesReport({"/abcdefghijklmnop/abcdefg&/abcdefghij\""})
                  .find("/abcdefghijklmnop/abcdefg&amp;/abcdefghij&quot;<br>"),
              std::string::npos);
    // The document says it is UTF-8, so bytes that are not must not reach it raw.
    EXPECT_NE(BuildParsedPagesReport({"/\x1b[2J\xe9\xc3\xa9"}).find("/%1B[2J%E9\xc3\xa9<br>"),
              std::string::npos);

    VersionResource resource;
    resource.fixed.dwSignature = VS_FFI_SIGNATURE;
    resource.translation = 0x04E40409u;
    resource.strings["\\StringFileInfo\\040904e4\\LegalCopyright"] = "A & B <C>";
    CModuleVersion::RegisterModule("", &resource);
    const std::string withNotice = BuildParsedPagesReport(std::vector<std::string>{});
    CModuleVersion::RegisterModule("", &ProgramVersionResource());
    EXPECT_NE(withNotice.find("<p>A &amp; B &lt;C&gt;</p>"), std::string::npos);
}

}  // namespace
