// The settings file as velmo-cli reads it: the window's INI file, for the detection servers only.
#include "cli/SettingsFile.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

using List = std::vector<std::string>;

TEST(CliSettingsFileTest, ServersListIsReadAsTheSettingsStoreWritesIt) {
    const struct {
        const char* ini;
        std::optional<List> servers;
    } cases[] = {
        {"[Detection]\nServers=http://a/, http://b:8245/ip.php\n",
         List{"http://a/", "http://b:8245/ip.php"}},
        {"[Detection]\r\nServers = http://a/\r\n", List{"http://a/"}},
        {"[Detection]\nServers=\"http://a/x,y\", \" http://b/\\\"q\\\"\"\n",
         List{"http://a/x,y", " http://b/\"q\""}},
        {"[Detection]\nServers=\\x68ttp://a/, http://b/ ; was http://c/\n",
         List{"http://a/", "http://b/"}},
        {"\xEF\xBB\xBF; mine\n[Detection]\n# note\nServers=http://a/,\n", List{"http://a/"}},
        {"[Detection]\nServers=http://old/\n[Router]\nPort=80\n[Detection]\nServers=http://new/\n",
         List{"http://new/"}},
        {"[Detection]\nServers=@Invalid()\n", List{}},
        {"[Router]\nServers=http://a/\n[Detection]\nServer=http://b/\n", std::nullopt},
    };
    for (const auto& [ini, servers] : cases) {
        EXPECT_EQ(DetectionServerEntries(ini), servers) << ini;
    }
}

TEST(CliSettingsFileTest, OnlyARegularFileIsReadAndOnlyItsStart) {
    std::string pattern = testing::TempDir() + "velmo-settings-XXXXXX";
    const std::filesystem::path folder = mkdtemp(pattern.data());
    const std::filesystem::path fifo = folder / "fifo", big = folder / "big.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it must not wait for one
    std::ofstream(big) << std::string(kMaxSettingsBytes + 10, ';');

    EXPECT_EQ(ReadSettingsText(fifo), std::nullopt);
    EXPECT_EQ(ReadSettingsText(folder), std::nullopt);
    EXPECT_EQ(ReadSettingsText((folder / "missing").string()), std::nullopt);
    EXPECT_EQ(ReadSettingsText(big).value_or("").size(), kMaxSettingsBytes);
    std::filesystem::remove_all(folder);
}

}  // namespace
