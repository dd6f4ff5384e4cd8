#include "cli/Output.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/Exit.h"
#include "cli/Interrupt.h"
#include "cli/Journal.h"
#include "core/text/ShownText.h"

namespace {

bool g_bQuiet = false;
int g_outputError = 0;  // why standard output could not be written (errno); 0 while it can

std::string PriorityPrefix(int fd, Priority priority) {
    return IsJournalStream(fd) ? '<' + std::to_string(static_cast<int>(priority)) + '>'
                               : std::string();
}

bool Shown(Priority priority) {
    return !g_bQuiet || priority == Priority::Error || priority == Priority::Notice ||
           priority == Priority::Debug;
}

// Progress rewrites its line with control sequences: only on a terminal that takes them.
bool ShowsProgress() {
    const char* term = std::getenv("TERM");
    return !g_bQuiet && isatty(STDERR_FILENO) != 0 && term != nullptr && *term != '\0' &&
           std::string_view(term) != "dumb";
}

}  // namespace

void SetQuiet(bool bQuiet) {
    g_bQuiet = bQuiet;
}

bool IsJournalStream(int fd) {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    char end = 0;
    struct stat status {};
    return stream != nullptr && std::sscanf(stream, "%llu:%llu%c", &device, &inode, &end) == 2 &&
           fstat(fd, &status) == 0 && status.st_dev == device && status.st_ino == inode;
}

void Say(Priority priority, std::string_view text) {
    SayBare(priority, std::string("velmo-cli: ").append(text));
}

void SayBare(Priority priority, std::string_view text) {
    // A service's messages go to the journal as entries of their own, which keep their unit.
    if (Shown(priority) && !SendToJournal(static_cast<int>(priority), text)) {
        // One write for the whole line, so that lines of the command and of its children never
        // interleave within a line.
        std::cerr << PriorityPrefix(STDERR_FILENO, priority).append(text) + '\n' << std::flush;
    }
}

void PrintLine(std::string_view line) {
    PrintText(std::string(line) + '\n');
}

void PrintText(std::string_view text) {
    if (g_outputError != 0) {
        return;
    }
    std::string_view left = text;
    while (!left.empty()) {
        const ssize_t written = write(STDOUT_FILENO, left.data(), left.size());
        if (written > 0) {
            left.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{STDOUT_FILENO, POLLOUT, 0};  // a non-blocking output handed down
            poll(&ready, 1, -1);
        } else {
            g_outputError = written < 0 ? errno : EIO;
            RequestStop();
            return;
        }
    }
}

bool OutputFailed() {
    return g_outputError != 0;
}

int FinishOutput(int status) {
    // What went through std::cout (the help) is written now.
    errno = 0;
    if (!std::cout.flush() && g_outputError == 0) {
        g_outputError = errno != 0 ? errno : EIO;
    }
    if (g_outputError == EPIPE) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        std::signal(SIGPIPE, SIG_DFL);
        sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
        raise(SIGPIPE);
    }
    if (g_outputError != 0) {
        Say(Priority::Error,
            std::string("cannot write to standard output: ") + std::strerror(g_outputError));
        return kExitOutputFailed;
    }
    return status;
}

void PrintPollLine(const std::string& line, bool bChange) {
    if (bChange) {
        PrintLine(PriorityPrefix(STDOUT_FILENO, Priority::Notice) + line);
    } else if (!g_bQuiet) {
        PrintLine(line);
    }
}

std::string EscapeControls(std::string_view text) {
    return EscapeUnsafeText(text);
}

CPrintingSink::CPrintingSink(bool bQuietLines)
    : m_bProgress(ShowsProgress()), m_bLines(!bQuietLines) {}

void CPrintingSink::Post(SpiderMessage message, std::string text) {
    switch (message) {
        case WM_SPIDER_ADDRESS:
            m_strAddress = text;
            if (m_bLines) {
                PrintLine("Detected IP address: " + EscapeControls(text));
            }
            break;
        case WM_SPIDER_FOUND:
            if (m_found.Add(text)) {
                ClearProgress();
                if (m_bLines) {
                    PrintLine("Found: " + EscapeControls(text));
                }
                m_foundPaths.push_back(std::move(text));
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

void CPrintingSink::LoggedIn(const std::string& formUrl) {
    Say(Priority::Debug, "logged in through the router's login form at " + EscapeControls(formUrl) +
                             "; the pages after it are read in that session");
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
