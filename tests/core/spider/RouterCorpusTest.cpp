// Crawls the saved web interfaces of real routers, served as they were shipped, with the WAN
// address written where the firmware would write it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>

#include "core/net/HttpFetch.h"
#include "core/net/ScriptScan.h"
#include "support/CrawlOnce.h"
#include "support/LoopbackServer.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kWanAddress = "203.0.113.45";

struct Router {
    const char* folder;
    const char* root;               // the file "/" stands for
    const char* statusFile;         // where the placeholder is
    const char* placeholder;        // replaced by the WAN address
    const char* expectedFound;      // by the plain crawl; null: none
    const char* expectedFoundDeep;  // with deep discovery
};

const Router kRouters[] = {
    {"ddwrt", "index.asp", "Status_Internet.asp",
     "<script type=\"text/javascript\">Capture(share.disabled)</script>", "/Status_Internet.asp",
     "/Status_Internet.asp"},
    {"dlink-dir615", "index.asp", "st_device.asp", "<% CmoGetStatus(\"wan_current_ipaddr_00\"); %>",
     "/st_device.asp", "/st_device.asp"},
    {"trendchip-adsl", "cgi-bin/index.asp", "cgi-bin/status_deviceinfo.asp",
     "<%tcWebApi_staticGet(\"DeviceInfo_PVC\",\"WanIP\",\"s\")%>", "/cgi-bin/status_deviceinfo.asp",
     "/cgi-bin/status_deviceinfo.asp"},
    // The menu is a tree that index.js builds; the status page is named only there.
    {"asus-wl500g", "index.asp", "Main_GStatus_Content.asp", "<% nvram_get(\"wan_ipaddr_t\"); %>",
     nullptr, "/Main_GStatus_Content.asp"},
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

// The corpus lives beside the checkout, not in it.
fs::path Folder(const Router& router) {
    return fs::path(VELMO_ROUTER_CORPUS) / router.folder;
}

// The row's name in ctest's list says where its folder is, or that it is missing, so that a
// skipped row says why wherever it is listed.
void PrintTo(const Router& router, std::ostream* out) {
    const fs::path folder = Folder(router);
    *out << folder.string() << (fs::is_directory(folder) ? "" : " (missing)");
}

class RouterCorpusTest : public testing::TestWithParam<Router> {};

TEST_P(RouterCorpusTest, FindsTheStatusPageWhereItIsReachable) {
    const Router& router = GetParam();
    const fs::path folder = Folder(router);
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no saved router interface at " << folder.string()
                     << ": configure with -DVELMO_ROUTER_CORPUS=FOLDER to crawl it";
    }
    struct Crawled {
        std::vector<std::string> found;
        std::vector<std::string> requested;
        std::vector<std::pair<std::string, PageOrigin>> listed;
    };
    const auto crawl = [&](bool bDeep) {
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
        CrawlLoopbackRouter(server.Port(), kWanAddress, parsed, sink, bDeep);

        Crawled crawled;
        std::size_t count = 0;
        for (const std::string& message : sink.Messages()) {
            if (message.starts_with("FOUND ")) {
                crawled.found.push_back(message.substr(6));
            } else {
                ++count;
            }
        }
        crawled.requested = server.RequestedTargets();
        parsed.ForEachPath([&](const std::string& path, PageOrigin origin) {
            crawled.listed.emplace_back(path, origin);
            return true;
        });
        EXPECT_EQ(count, crawled.requested.size()) << "every page answered with a body is counted";
        EXPECT_EQ(server.ConnectionCount(), 1u);
        return crawled;
    };
    const auto expected = [](const char* path) {
        return path != nullptr ? std::vector<std::string>{path} : std::vector<std::string>{};
    };

    const Crawled plain = crawl(false);
    EXPECT_EQ(plain.found, expected(router.expectedFound));
    const Crawled deep = crawl(true);
    EXPECT_EQ(deep.found, expected(router.expectedFoundDeep));
    // Deep discovery requests all the plain crawl does, and never a name of its own that names an
    // action.
    const std::set<std::string> plainRequested(plain.requested.begin(), plain.requested.end());
    const std::set<std::string> deepRequested(deep.requested.begin(), deep.requested.end());
    EXPECT_TRUE(std::includes(deepRequested.begin(), deepRequested.end(), plainRequested.begin(),
                              plainRequested.end()));
    for (const auto& [path, origin] : deep.listed) {
        EXPECT_TRUE(origin != PageOrigin::Script || !NamesAnAction(path)) << path;
        EXPECT_TRUE(origin != PageOrigin::ScriptNotRequested ||
                    !deepRequested.contains(EscapeRequestUrl(path)))
            << path;
    }
}

INSTANTIATE_TEST_SUITE_P(RealRouters, RouterCorpusTest, testing::ValuesIn(kRouters),
                         [](const testing::TestParamInfo<Router>& param) {
                             std::string name = param.param.folder;
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
