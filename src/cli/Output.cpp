#include "cli/Output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "core/text/ShownText.h"

std::string EscapeControls(std::string_view text) {
    return EscapeUnsafeText(text);
}

CPrintingSink::CPrintingSink() : m_bProgress(isatty(STDERR_FILENO) != 0) {}

void CPrintingSink::Post(SpiderMessage message, std::string text) {
    switch (message) {
        case WM_SPIDER_ADDRESS:
            m_strAddress = text;
            std::cout << "Detected IP address: " << EscapeControls(text) << std::endl;
            break;
        case WM_SPIDER_FOUND:
            if (m_found.Add(text)) {
                ClearProgress();
                std::cout << "Found: " << EscapeControls(text) << std::endl;
            }
            break;
        case WM_SPIDER_PARSED:
            ++m_nParsed;
            ShowProgress();
            break;
        case WM_SPIDER_DONE:
            ClearProgress();
            break;
    }
}

void CPrintingSink::Fetching(const std::string& path) {
    m_strReading = EscapeControls(path);
    ShowProgress();
}

void CPrintingSink::FetchFailed(const std::string&, const std::string& why) {
    if (m_strFirstFailure.empty()) {
        m_strFirstFailure = why;
    }
}

// One line, rewritten in place: the count and the page being read, cut to fit 80 columns and
// never inside a character.
void CPrintingSink::ShowProgress() {
    if (m_bProgress) {
        std::size_t shown = std::min<std::size_t>(m_strReading.size(), 55);
        while (shown > 0 && shown < m_strReading.size() &&
               (static_cast<unsigned char>(m_strReading[shown]) & 0xC0) == 0x80) {
            --shown;
        }
        std::fprintf(stderr, "\r\033[KParsed pages: %d  reading %.*s", m_nParsed,
                     static_cast<int>(shown), m_strReading.c_str());
        std::fflush(stderr);
    }
}

void CPrintingSink::ClearProgress() {
    if (m_bProgress) {
        std::fputs("\r\033[K", stderr);
    }
}
