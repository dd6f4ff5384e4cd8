#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/spider/SpiderParams.h"
#include "core/spider/SpiderRules.h"

// Router or user text as it may go to a terminal: control characters (C0, DEL, C1), bidirectional
// marks and overrides, line separators and bytes that are not UTF-8 become %XX, so that a link can
// neither start a line of its own, nor send the terminal an escape sequence, nor turn what follows
// it around.
std::string EscapeControls(std::string_view text);

// Prints the run as it goes: the address, each newly found page, progress on a terminal.
class CPrintingSink : public ISpiderSink {
public:
    CPrintingSink();

    void Post(SpiderMessage message, std::string text) override;
    void Fetching(const std::string& path) override;
    void FetchFailed(const std::string& path, const std::string& why) override;
    void NamesSkipped(std::size_t count) override { m_nSkippedNames = count; }

    const std::string& Address() const { return m_strAddress; }
    std::size_t FoundCount() const { return m_found.Size(); }
    int Parsed() const { return m_nParsed; }
    // Why the first page that gave no text did not, or the empty text.
    const std::string& FirstFailure() const { return m_strFirstFailure; }
    // Host names in links left unresolved once the run's lookup time was spent.
    std::size_t SkippedNames() const { return m_nSkippedNames; }

private:
    void ShowProgress();
    void ClearProgress();

    bool m_bProgress;
    std::string m_strAddress;
    CFoundPages m_found;
    std::string m_strReading;
    std::string m_strFirstFailure;
    int m_nParsed = 0;
    std::size_t m_nSkippedNames = 0;
};
