// The address scan of a page and the address parser, in bytes and candidates per second.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"

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

}  // namespace

BENCHMARK_MAIN();
