#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/spider/SpiderSink.h"

// Keeps every message the worker posts, in order, as "FOUND /path", "PARSED", "ADDRESS a", "DONE",
// "SKIPPED n" for host names skipped unresolved and "GAVE UP n" for pages that gave up links.
class CRecordingSink : public ISpiderSink {
public:
    void Post(SpiderMessage message, std::string text) override {
        static const char* const kNames[] = {"PARSED", "FOUND", "ADDRESS", "DONE"};
        std::string line = kNames[message - WM_SPIDER_PARSED];
        if (!text.empty()) {
            line += " " + text;
        }
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(line));
    }

    void NamesSkipped(std::size_t count) override {
        std::lock_guard lock(m_mutex);
        m_messages.push_back("SKIPPED " + std::to_string(count));
    }

    void LinksGivenUp(std::size_t pages) override {
        std::lock_guard lock(m_mutex);
        m_messages.push_back("GAVE UP " + std::to_string(pages));
    }

    void Clear() {
        std::lock_guard lock(m_mutex);
        m_messages.clear();
    }

    std::vector<std::string> Messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};
