// The velmo program as a whole: start-up, and ending by a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
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

// True once the main thread waits in poll(): the window is up and idle.
bool WaitsForEvents(pid_t pid) {
    std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    return where.find("poll") != std::string::npos;
}

// Starts velmo in a fresh home and ends it by SIGTERM once the window waits for events; `prepare`
// may lay out the configuration folder first.
ProcessResult RunUntilTerminated(const fs::path& home,
                                 const std::function<void(const fs::path& config)>& prepare = {}) {
    const fs::path temp = home / "tmp";
    fs::create_directories(temp);
    if (prepare) {
        prepare(home / "config");
    }
    return RunProgram(
        {VELMO_GUI}, {},
        [&](pid_t pid) {
            EXPECT_TRUE(WaitUntil([&] { return WaitsForEvents(pid); }))
                << "the window never waited for events";
            EXPECT_FALSE(HasReportFile(temp)) << "made before it was asked for";
            kill(pid, SIGTERM);
        },
        {"QT_QPA_PLATFORM=offscreen", "HOME=" + home.string(), "TMPDIR=" + temp.string(),
         "XDG_CONFIG_HOME=" + (home / "config").string()},
        false, std::chrono::seconds(60));
}

fs::path MakeHome() {
    std::string pattern = (fs::temp_directory_path() / "velmo-startup-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    return pattern;
}

TEST(Startup, TerminationClosesTheWindowCleanlyAndWritesNothing) {
    const fs::path home = MakeHome();
    const ProcessResult run = RunUntilTerminated(home);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(HasReportFile(home / "tmp")) << "the report file must go with the window";
    EXPECT_FALSE(fs::exists(home / "config")) << "nothing is written at exit";
    fs::remove_all(home);
}

// A FIFO in place of the settings file would block the first read forever.
TEST(Startup, SettingsFifoDoesNotHoldUpTheWindow) {
    const fs::path home = MakeHome();
    const ProcessResult run = RunUntilTerminated(home, [](const fs::path& config) {
        fs::create_directories(config / "Ravik");
        ASSERT_EQ(mkfifo((config / "Ravik" / "Velmo.ini").c_str(), 0600), 0);
    });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_fifo(home / "config" / "Ravik" / "Velmo.ini"));
    fs::remove_all(home);
}

}  // namespace

namespace {

// --help and --version answer even where no window could open: this X display does not exist.
TEST(Startup, HelpAndVersionAnswerWithoutOpeningAWindow) {
    const std::vector<std::string> nowhere{"QT_QPA_PLATFORM=xcb", "DISPLAY=:32767",
                                           "WAYLAND_DISPLAY=none"};
    const ProcessResult version = RunProgram({VELMO_GUI, "--version"}, {}, {}, nowhere);
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, std::string("velmo ") + VELMO_VERSION + "\n");
    const ProcessResult help = RunProgram({VELMO_GUI, "--help"}, {}, {}, nowhere);
    EXPECT_EQ(help.status, 0) << help.err;
    ASSERT_FALSE(help.Lines().empty());
    EXPECT_EQ(help.Lines().front(), "usage: velmo [--background]");
    EXPECT_NE(help.out.find("\n  --background "), std::string::npos) << help.out;
}

// An argument velmo does not know is a usage error before the window system is reached, a display
// or none; the window system's own options pass.
TEST(Startup, UnknownArgumentIsAUsageError) {
    const std::vector<std::string> offscreen{"QT_QPA_PLATFORM=offscreen"};
    const std::vector<std::string> nowhere{"QT_QPA_PLATFORM=xcb", "DISPLAY=:32767",
                                           "WAYLAND_DISPLAY=none"};
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> environment;
        const char* unknown;
    } rows[] = {
        {{"--backgroun"}, offscreen, "--backgroun"},
        {{"--bogus"}, nowhere, "--bogus"},
        {{"-platform", "offscreen", "--style", "Fusion", "-reverse", "--bogus"},
         nowhere,
         "--bogus"},
    };
    for (const auto& [args, environment, unknown] : rows) {
        std::vector<std::string> line = {VELMO_GUI};
        line.insert(line.end(), args.begin(), args.end());
        const ProcessResult run =
            RunProgram(line, {}, {}, environment, false, std::chrono::seconds(30));
        EXPECT_EQ(run.status, 64) << unknown << ": " << run.err;
        EXPECT_EQ(run.err, std::string("velmo: unknown argument ") + unknown +
                               "\nusage: velmo [--background]\n");
    }
}

}  // namespace
