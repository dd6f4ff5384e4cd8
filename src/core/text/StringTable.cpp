#include "core/text/StringTable.h"

namespace {

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {IDS_URL_COLUMNS, "Path to status page;"},
    {IDS_VERSION_FORMAT, "Version: %d.%02d (Build %d.%d)"},
    {IDS_POLL, "&Poll"},
    {IDS_STOP, "S&top"},
    {IDS_INVALID_ADDRESS, "Invalid IP address, local address expected"},
    {IDS_INVALID_PATH, "Invalid status page path"},
    {IDS_INVALID_PORT, "Invalid TCP port number"},
    {IDS_CANCEL, "&Cancel"},
    {IDS_RUN, "&Run"},
    {IDS_NO_EXTERNAL_ADDRESS,
     "Unable to autodetect your external IP address. Please make sure that you are connected to "
     "the Internet."},
    {IDS_NO_STATUS_PAGE, "Unable to identify the status page"},
    {IDS_STATUS_PAGE_FOUND,
     "A status page was identified. Please select a path and click the Polling tab."},
    {IDS_TEST_CANCELLED, "The test was cancelled"},
    {IDS_UNUSABLE_SERVERS,
     "Unable to use the detection servers listed in %s. Please correct the file, or remove it to "
     "use the built-in servers."},
    {IDS_APP_TITLE, "Velmo"},
    {IDS_ENTER_INTEGER, "Please enter an integer."},
};

}  // namespace

const char* LoadString(int id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return "";
}
