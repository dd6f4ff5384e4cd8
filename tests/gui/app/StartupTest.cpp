// The velmo program as a whole: start-up, and ending by a signal.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <thread>

#include "support/Process.h"

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
    const fs::path home = fs::path(testing::TempDir()) / "velmo-startup-home";
    const fs::path temp = home / "tmp";
    fs::remove_all(home);
    fs::create_directories(temp);
    const ProcessResult run = RunProgram(
        {VELMO_GUI}, {},
        [&](pid_t pid) {
            while (!HasReportFile(temp)) {  // the Status tab reserves it while the sheet is built
                std::this_thread::yield();
            }
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
