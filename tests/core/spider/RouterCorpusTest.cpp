// Crawls the saved web interfaces of real routers, served as they were shipped, with the WAN
// address written where the firmware would write it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/CrawlOnce.h"
#include "support/LoopbackServer.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kWanAddress = "203.0.113.45";

struct Router {
    const char* folder;
    const char* root;         // the file "/" stands for
    const char* statusFile;   // where the placeholder is
    const char* placeholder;  // replaced by the WAN address
    const char* expectedFound;
};

const Router kRouters[] = {
    {"ddwrt", "index.asp", "Status_Internet.asp",
     "<script type=\"text/javascript\">Capture(share.disabled)</script>", "/Status_Internet.asp"},
    {"dlink-dir615", "index.asp", "st_device.asp", "<% CmoGetStatus(\"wan_current_ipaddr_00\"); %>",
     "/st_device.asp"},
    {"trendchip-adsl", "cgi-bin/index.asp", "cgi-bin/status_deviceinfo.asp",
     "<%tcWebApi_staticGet(\"DeviceInfo_PVC\",\"WanIP\",\"s\")%>",
     "/cgi-bin/status_deviceinfo.asp"},
    {"asus-wl500g", "index.asp", "Main_GStatus_Content.asp", "<% nvram_get(\"wan_ipaddr_t\"); %>",
     nullptr},
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

class RouterCorpusTest : public testing::TestWithParam<Router> {};

TEST_P(RouterCorpusTest, FindsTheStatusPageWhereItIsReachable) {
    const Router& router = GetParam();
    const fs::path folder = fs::path(VELMO_ROUTER_CORPUS) / router.folder;
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "router corpus not present at " << folder;
    }
    CLoopbackServer server;
    server.ServeOthers([&](const std::string& target) {
        std::string path = Decode(target.substr(0, target.find_first_of("?#")));
        path = path == "/" ? router.root : path.substr(1);
        CLoopbackServer::Page page;
        const fs::path file = folder / path;
        if (path.find("..") != std::string::npos || !fs::is_regular_file(file)) {
            page.status = 404;
            page.body = "<html><body>404 Not Found</body></html>";
            return page;
        }
        page.body = ReadFile(file);
        if (path == router.statusFile) {
            const std::size_t at = page.body.find(router.placeholder);
            EXPECT_NE(at, std::string::npos);
            page.body.replace(at, std::strlen(router.placeholder), kWanAddress);
        }
        return page;
    });

    CParsedPageList parsed;
    CRecordingSink sink;
    CrawlLoopbackRouter(server.Port(), kWanAddress, parsed, sink);

    std::vector<std::string> found;
    std::size_t count = 0;
    for (const std::string& message : sink.Messages()) {
        if (message.starts_with("FOUND ")) {
            found.push_back(message.substr(6));
        } else {
            ++count;
        }
    }
    if (router.expectedFound != nullptr) {
        EXPECT_EQ(found, std::vector<std::string>{router.expectedFound});
    } else {
        EXPECT_TRUE(found.empty());
    }
    EXPECT_EQ(count, server.Requests().size()) << "every page answered with a body is counted";
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(RealRouters, RouterCorpusTest, testing::ValuesIn(kRouters),
                         [](const testing::TestParamInfo<Router>& param) {
                             std::string name = param.param.folder;
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
