#include "core/report/ReportFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/spider/ParsedPageList.h"

namespace {

namespace fs = std::filesystem;

class ReportFileTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmo-report-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Nothing but `kept` is left in the folder: no temporary file survives.
    void ExpectOnly(std::initializer_list<std::string> kept) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            names.insert(entry.path().filename());
        }
        EXPECT_EQ(names, std::set<std::string>(kept));
    }

    fs::path m_folder;
};

TEST_F(ReportFileTest, ReplacesFilesAndLinksToFilesButNothingElse) {
    std::string error;
    const fs::path file = m_folder / "report.htm";
    ASSERT_TRUE(WriteReportFile(file, "one", 0600, error)) << error;
    ASSERT_TRUE(WriteReportFile(file, "two", 0600, error)) << error;
    EXPECT_EQ(Read(file), "two");

    // A link to a regular file, or to nothing, is replaced; what it points at is untouched.
    const fs::path victim = m_folder / "victim";
    std::ofstream(victim) << "kept";
    fs::create_symlink(victim, m_folder / "link.htm");
    fs::create_symlink(m_folder / "none", m_folder / "dangling.htm");
    for (const char* name : {"link.htm", "dangling.htm"}) {
        ASSERT_TRUE(WriteReportFile(m_folder / name, "new", 0600, error)) << error;
        EXPECT_FALSE(fs::is_symlink(m_folder / name));
    }
    EXPECT_EQ(Read(victim), "kept");

    // A FIFO, a link to one or to a device, a folder, and a link that leads through /proc as
    // /dev/stdout does, even to a regular file, stay what they are.
    ASSERT_EQ(mkfifo((m_folder / "fifo").c_str(), 0600), 0);
    fs::create_symlink(m_folder / "fifo", m_folder / "to-fifo");
    fs::create_symlink("/dev/null", m_folder / "to-null");
    fs::create_directory(m_folder / "folder");
    const int out = open(victim.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);  // as stdout to a file
    ASSERT_GE(out, 0);
    fs::create_symlink("/proc/self/fd/" + std::to_string(out), m_folder / "stdout");
    const std::pair<const char*, const char*> refused[] = {
        {"fifo", "not a regular file"},
        {"to-fifo", "not a regular file"},
        {"to-null", "not a regular file"},
        {"folder", "not a regular file"},
        {"stdout", "a link into /proc, not to a regular file"}};
    for (const auto& [name, why] : refused) {
        error.clear();
        EXPECT_FALSE(WriteReportFile(m_folder / name, "x", 0600, error)) << name;
        EXPECT_EQ(error, why);
    }
    EXPECT_TRUE(fs::is_fifo(m_folder / "fifo"));
    for (const char* name : {"to-fifo", "to-null", "stdout"}) {
        EXPECT_TRUE(fs::is_symlink(m_folder / name)) << name;
    }
    close(out);
    EXPECT_EQ(Read(victim), "kept");
    ExpectOnly({"report.htm", "victim", "link.htm", "dangling.htm", "fifo", "to-fifo", "to-null",
                "folder", "stdout"});
}

TEST_F(ReportFileTest, TheKernelAppliesTheUmaskAndLongNamesFit) {
    const mode_t saved = umask(027);
    std::string error;
    const std::string longName(255, 'r');
    const bool bWritten = WriteReportFile(m_folder / longName, "x", 0666, error);
    umask(saved);
    ASSERT_TRUE(bWritten) << error;
    struct stat status {};
    ASSERT_EQ(stat((m_folder / longName).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    ExpectOnly({longName});
}

TEST_F(ReportFileTest, AReportThatFailsOrIsAbandonedLeavesTheOldOne) {
    std::string error;
    const fs::path file = m_folder / "report.htm";
    ASSERT_TRUE(WriteReportFile(file, "old", 0600, error));
    EXPECT_FALSE(WriteReportFile(
        file, 0600, [](CReportWriter& writer) { return writer.Write("half") && false; }, error));
    EXPECT_EQ(Read(file), "old");
    ExpectOnly({"report.htm"});
    EXPECT_FALSE(WriteReportFile(m_folder / "missing" / "report.htm", "x", 0600, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(ReportFileTest, TheParsedPagesReportStreamsEveryPathAndStopsWhenAsked) {
    CParsedPageList pages;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string path = "/deep/" + std::to_string(i) + ".htm";
        pages.CheckParsedPage(path);
        expected += path + "<br>\r\n";
    }
    pages.CheckParsedPage(pages.Intern("/menu.asp"), PageOrigin::Script);
    pages.CheckParsedPage(pages.Intern("/Reboot.asp"), PageOrigin::ScriptNotRequested);
    const CParsedPageList::PathId status = pages.Intern("/status.asp");
    pages.CheckParsedPage(status);
    pages.SetAfterLogin(status);
    expected +=
        "/menu.asp (script)<br>\r\n/Reboot.asp (script, not requested)<br>\r\n"
        "/status.asp (after login)<br>\r\n";
    std::string error;
    const fs::path file = m_folder / "report.htm";
    ASSERT_TRUE(WriteParsedPagesReport(file, pages, 0600, error)) << error;
    const std::string report = Read(file);
    EXPECT_NE(report.find("<p>\r\n" + expected + "</p>\r\n<p>(script): found only by the search"),
              std::string::npos);
    EXPECT_NE(report.find("<p>(after login): read once the router's login form"),
              std::string::npos);
    EXPECT_TRUE(report.ends_with("</html>"));

    const std::atomic<bool> stop{true};
    EXPECT_FALSE(WriteParsedPagesReport(m_folder / "stopped.htm", pages, 0600, error, &stop));
    ExpectOnly({"report.htm"});
}

}  // namespace
