#include "core/polling/AddressWatch.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct Session {
    const char* name;
    std::vector<std::string> results;
    std::string events;  // one letter per read: - none, C changed, L lost, B back
};

void PrintTo(const Session& session, std::ostream* out) {
    *out << session.name;
}

class AddressWatchTest : public testing::TestWithParam<Session> {};

TEST_P(AddressWatchTest, TellsEachChangeLossAndReturnOnce) {
    CAddressWatch watch;
    std::string events;
    for (const std::string& result : GetParam().results) {
        events += "-CLB"[static_cast<int>(watch.Feed(result))];
    }
    EXPECT_EQ(events, GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, AddressWatchTest,
    testing::Values(
        Session{"FirstAddressIsTheBaseline", {"198.51.100.1", "198.51.100.1"}, "--"},
        Session{"NotAvailableIsNoBaseline", {"n/a", "n/a", "198.51.100.1", "198.51.100.2"}, "---C"},
        Session{
            "TwoChanges", {"198.51.100.1", "198.51.100.2", "198.51.100.2", "198.51.100.3"}, "-C-C"},
        Session{"LossOnceReturnOnce",
                {"198.51.100.1", "n/a", "n/a", "n/a", "198.51.100.1", "198.51.100.1"},
                "-L--B-"},
        Session{
            "ReturnWithAnotherAddress", {"198.51.100.1", "n/a", "198.51.100.7", "n/a"}, "-LBL"}),
    [](const testing::TestParamInfo<Session>& session) { return session.param.name; });

}  // namespace
