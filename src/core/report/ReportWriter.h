#pragma once

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
