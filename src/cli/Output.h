#pragma once

#include <cstddef>
#include <string>

#include "core/spider/SpiderParams.h"
#include "core/spider/SpiderRules.h"

// Prints the run as it goes: the address, each newly found page, progress on a terminal.
class CPrintingSink : public ISpiderSink {
public:
    CPrintingSink();

    void Post(SpiderMessage message, std::string text) override;
    void Fetching(const std::string& path) override;

    const std::string& Address() const { return m_strAddress; }
    std::size_t FoundCount() const { return m_found.Size(); }
    int Parsed() const { return m_nParsed; }

private:
    void ShowProgress();
    void ClearProgress();

    bool m_bProgress;
    std::string m_strAddress;
    CFoundPages m_found;
    std::string m_strReading;
    int m_nParsed = 0;
};
