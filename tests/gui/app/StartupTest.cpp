// The velmo program as a whole: start-up, and ending by a signal.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <thread>

#include "support/Process.h"
#include "support/Wait.h"

namespace {

namespace fs = std::filesystem;

bool HasReportFile(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("vel")) {
            return true;
        }
    }
    return false;
}

TEST(Startup, TerminationClosesTheWindowCleanlyAndWritesNothing) {
    std::string pattern = (fs::temp_directory_path() / "velmo-startup-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path home = pattern;
    const fs::path temp = home / "tmp";
    fs::create_directories(temp);
    const ProcessResult run = RunProgram(
        {VELMO_GUI}, {},
        [&](pid_t pid) {
            // The Status tab reserves it while the sheet is built.
            EXPECT_TRUE(WaitUntil([&] { return HasReportFile(temp); })) << "no report file made";
            kill(pid, SIGTERM);
        },
        {"QT_QPA_PLATFORM=offscreen", "HOME=" + home.string(), "TMPDIR=" + temp.string(),
         "XDG_CONFIG_HOME=" + (home / "config").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(HasReportFile(temp)) << "the report file must go with the window";
    EXPECT_FALSE(fs::exists(home / "config")) << "nothing is written at exit";
    fs::remove_all(home);
}

}  // namespace
