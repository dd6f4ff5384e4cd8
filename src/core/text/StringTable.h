#pragma once

// The program's texts, by the ids its pages use.
enum StringId : int {
    IDS_URL_COLUMNS = 100,
    IDS_VERSION_FORMAT = 101,
    IDS_POLL = 102,
    IDS_STOP = 103,
    IDS_INVALID_ADDRESS = 106,
    IDS_INVALID_PATH = 107,
    IDS_INVALID_PORT = 108,
    IDS_CANCEL = 109,
    IDS_RUN = 110,
    IDS_NO_EXTERNAL_ADDRESS = 111,
    IDS_NO_STATUS_PAGE = 112,
    IDS_STATUS_PAGE_FOUND = 113,
    IDS_TEST_CANCELLED = 114,
    IDS_UNUSABLE_SERVERS = 115,
    IDS_APP_TITLE = 57344,
    IDS_ENTER_INTEGER = 61712,
};

// The text of `id`, or the empty text for an id the table lacks.
const char* LoadString(int id);
