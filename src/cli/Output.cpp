#include "cli/Output.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "core/text/Ascii.h"

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            AppendPercentEscaped(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

CPrintingSink::CPrintingSink() : m_bProgress(isatty(STDERR_FILENO) != 0) {}

void CPrintingSink::Post(SpiderMessage message, std::string text) {
    switch (message) {
        case WM_SPIDER_ADDRESS:
            m_strAddress = text;
            std::cout << "Detected IP address: " << text << std::endl;
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

// One line, rewritten in place: the count and the page being read, cut to fit 80 columns.
void CPrintingSink::ShowProgress() {
    if (m_bProgress) {
        std::fprintf(stderr, "\r\033[KParsed pages: %d  reading %.55s", m_nParsed,
                     m_strReading.c_str());
        std::fflush(stderr);
    }
}

void CPrintingSink::ClearProgress() {
    if (m_bProgress) {
        std::fputs("\r\033[K", stderr);
    }
}
