#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/spider/FoundPages.h"
#include "core/spider/SpiderSink.h"

// How much a line matters, as the journal ranks it (syslog priorities).
enum class Priority {
    Error = 3,
    Warning = 4,
    Notice = 5,  // a change of the address
    Info = 6,
    Debug = 7,  // --verbose
};

// With --quiet no progress is shown and of the messages only errors, changes of the address and
// what --verbose asks for are said.
void SetQuiet(bool bQuiet);

// One message line on standard error, "velmo-cli: TEXT". When standard error is the journal's
// stream (JOURNAL_STREAM names its device and inode, as systemd sets it for a service) the line
// starts with the priority, "<3>" for an error, so that journalctl -p err finds every failure; in
// a user's service it goes to the journal as an entry of its unit instead (cli/Journal.h).
void Say(Priority priority, std::string_view text);
// The same without the program's name, for lines that explain an outcome.
void SayBare(Priority priority, std::string_view text);

// One line on standard output, written whole in one go. When it cannot be written, nothing more is
// written there and the command is asked to stop (RequestStop): its output is lost.
void PrintLine(std::string_view line);
// The same for text that is part of a line, or many lines, as it stands.
void PrintText(std::string_view text);
// True once standard output could not be written.
bool OutputFailed();

// The program's exit status once its command has ended with `status`: that status, unless standard
// output could not be written. A pipe whose reader has gone then ends the program by SIGPIPE, as it
// ends other programs in a pipeline; any other failure (a full disk) is said, and the status is
// kExitOutputFailed.
int FinishOutput(int status);

// One line of poll on standard output; a change carries "<5>" when standard output is the
// journal's stream. An unchanged reading is left out with --quiet.
void PrintPollLine(const std::string& line, bool bChange);

// Whether `fd` is the stream that JOURNAL_STREAM ("DEVICE:INODE") names.
bool IsJournalStream(int fd);

// Router or user text as it may go to a terminal: control characters (C0, DEL, C1), bidirectional
// marks and overrides, line separators and bytes that are not UTF-8 become %XX, so that a link can
// neither start a line of its own, nor send the terminal an escape sequence, nor turn what follows
// it around.
std::string EscapeControls(std::string_view text);

// Prints the run as it goes: the address, each newly found page (unless `bQuietLines`, for
// --json, which keeps them for the end), progress on a terminal that takes its control sequences
// (TERM names one, not "dumb").
class CPrintingSink : public ISpiderSink {
public:
    explicit CPrintingSink(bool bQuietLines = false);

    void Post(SpiderMessage message, std::string text) override;
    void Fetching(const std::string& path) override;
    void FetchFailed(const std::string& path, const std::string& why) override;
    void NamesSkipped(std::size_t count) override { m_nSkippedNames = count; }
    void LinksGivenUp(std::size_t pages) override { m_nPagesGivenUp = pages; }
    void LoggedIn(const std::string& formUrl) override;

    const std::string& Address() const { return m_strAddress; }
    std::size_t FoundCount() const { return m_found.Size(); }
    // The pages found, each once, in the order found.
    const std::vector<std::string>& FoundPaths() const { return m_foundPaths; }
    int Parsed() const { return m_nParsed; }
    // Why the first page that gave no text did not, or the empty text.
    const std::string& FirstFailure() const { return m_strFirstFailure; }
    // Host names in links left unresolved once the run's lookup time was spent.
    std::size_t SkippedNames() const { return m_nSkippedNames; }
    // Pages that gave up the rest of their links once the links waiting filled their bound.
    std::size_t PagesGivenUp() const { return m_nPagesGivenUp; }

private:
    void ShowProgress();
    void ClearProgress();

    bool m_bProgress;
    bool m_bLines;
    std::string m_strAddress;
    CFoundPages m_found;
    std::vector<std::string> m_foundPaths;
    std::string m_strReading;
    std::string m_strFirstFailure;
    int m_nParsed = 0;
    std::size_t m_nSkippedNames = 0;
    std::size_t m_nPagesGivenUp = 0;
};
