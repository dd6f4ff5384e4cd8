#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

// A report on its way to disk, written piece by piece through a buffer, so that a report of any
// length never stands whole in memory.
class CReportWriter {
public:
    explicit CReportWriter(int fd) : m_fd(fd) {}
    CReportWriter(const CReportWriter&) = delete;
    CReportWriter& operator=(const CReportWriter&) = delete;

    // False once a write has failed; everything after it is dropped.
    bool Write(std::string_view text);
    // Writes out what the buffer holds; false when that or an earlier write failed.
    bool Flush();
    int Error() const { return m_error; }  // errno of the first failure, or 0

private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    int m_fd;
    int m_error = 0;
    std::string m_buffer;
};

// Told the name of the temporary file while the name is in use: before the file is created and
// until it is renamed or removed, then null. For a program that may end from a signal handler and
// must not leave the file behind; it runs on the writing thread.
using TemporaryNameHook = void (*)(const char* name);

// Writes a report to `path` through `produce`, which answers false to give up. The text goes into
// a new file beside `path`, created exclusively with `mode` less the umask, and is renamed over
// `path` only once it is whole: a half-written report never stands, and a symbolic link planted at
// `path` is replaced, never followed. A `path` that exists and is neither a regular file nor a
// link to one (a device, a FIFO, a folder) is refused and left as it is. On failure `error` says
// why and `path` is as it was.
bool WriteReportFile(const std::string& path, mode_t mode,
                     const std::function<bool(CReportWriter&)>& produce, std::string& error,
                     TemporaryNameHook temporaryName = nullptr);

// The same for a report that is one text already.
bool WriteReportFile(const std::string& path, std::string_view text, mode_t mode,
                     std::string& error, TemporaryNameHook temporaryName = nullptr);

class CParsedPageList;

// The parsed-pages report of `pages`, streamed path by path into `path` as above. A set `stop`
// gives up between two paths.
bool WriteParsedPagesReport(const std::string& path, const CParsedPageList& pages, mode_t mode,
                            std::string& error, const std::atomic<bool>* stop = nullptr,
                            TemporaryNameHook temporaryName = nullptr);
