// The address scan of a page, the address parser, and the link and deep scans of a page carrying a
// router's menu script, in bytes and candidates per second.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/net/LinkExtraction.h"
#include "core/net/ScriptScan.h"

namespace {

// About 1 MiB of router-like markup: tables, scripts, version strings, dates, counters and
// private addresses, with the public address near the end.
std::string RouterPage() {
    std::mt19937 random(42);
    std::string page = "<html><head><script>var fw='2.0.0.1';</script></head><body><table>";
    while (page.size() < (1u << 20)) {
        const auto n = static_cast<unsigned>(random());
        page += "<tr><td class=\"label\">Packets</td><td>" + std::to_string(n % 100000) +
                "</td><td>192.168." + std::to_string(n % 256) + "." + std::to_string(n % 200) +
                "</td><td>12.1.2006</td><td>uptime 3:14:15</td><td>mask 255.255.255.0</td></tr>\n";
    }
    page += "<tr><td>WAN</td><td>203.0.113.45</td></tr></table></body></html>";
    return page;
}

void ScanPage(benchmark::State& state) {
    const std::string page = RouterPage();
    for (auto _ : state) {
        std::string result;
        // Reserved addresses and dates are excluded by the list, so the scan runs to the end.
        benchmark::DoNotOptimize(
            FindAcceptableAddress(page.c_str(), false, "2.0.0.1 12.1.2006", result));
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(ScanPage);

void ParseAddress(benchmark::State& state) {
    const char* const candidates[] = {"192.168.1.1", "203.0.113.45",    "12.1.2006",
                                      "1234567890",  "192.168.010.001", "255.255.255.255",
                                      "10.0.0.1a"};
    for (auto _ : state) {
        for (const char* text : candidates) {
            std::uint32_t address = 0;
            benchmark::DoNotOptimize(ParseIPAddress(text, &address));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * std::size(candidates)));
}
BENCHMARK(ParseAddress);

// A page with a 60 KiB menu script in the style of bench/deep.sh: 150 entries in folders, and the
// code around such trees.
std::string MenuPage() {
    std::string page =
        "<html><head><script type=\"text/javascript\">\n"
        "function generateDocEntry(icon, label, page, target) {\n"
        "    var s = '<a href=\"javascript:go(\\'' + page + '\\')\">' + label;\n"
        "    return s.replace(/&/g, '&amp;').replace(/\"/g, '&quot;');\n}\n";
    for (int entry = 0; entry < 150; ++entry) {
        if (entry % 10 == 0) {
            page += "if (mode != 'AP') {\n    aux1 = appendChild(foldersTree, leafNode(\"Folder " +
                    std::to_string(entry / 10) + "\"));\n";
        }
        page += "    appendChild(aux1, generateDocEntry(0, \"Entry " + std::to_string(entry) +
                "\", \"p" + std::to_string(entry * 13) + ".html\", \"\"));\n";
        if (entry % 10 == 9) {
            page += "}\n";
        }
    }
    while (page.size() < 60 * 1024) {
        page +=
            "function clickOnFolderLink(folderName) {\n"
            "    // Opens the first page of a folder; keep in step with the tree above.\n"
            "    if (folderName == \"Home\" && mode == 'Router') { top.location.reload(); }\n"
            "    var re = /^[A-Za-z0-9_]+$/; if (!re.test(folderName)) { return false; }\n"
            "    for (var i = 0; i < foldersTree.length; i++) { w = w / 2 + foldersTree[i][2]; }\n"
            "}\n";
    }
    return page + "</script></head><body><a href=\"p1.html\">1</a></body></html>";
}

// What the plain crawl does with a page: the three link scans.
void ScanLinks(benchmark::State& state) {
    const std::string page = MenuPage();
    std::string value;
    for (auto _ : state) {
        for (const auto& [tag, attribute] :
             {std::pair{"a", "href"}, {"frame", "src"}, {"form", "action"}}) {
            const char* cursor = page.c_str();
            while (FindNextLink(cursor, tag, attribute, value)) {
                benchmark::DoNotOptimize(value);
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(ScanLinks);

// What deep discovery adds: the page's deep links and the names in its script.
void ScanDeepLinks(benchmark::State& state) {
    const std::string page = MenuPage();
    std::size_t found = 0;
    for (auto _ : state) {
        FindDeepLinks(page, [&](DeepLinkKind, std::string_view) { ++found; });
    }
    benchmark::DoNotOptimize(found);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(ScanDeepLinks);

}  // namespace

BENCHMARK_MAIN();
