#include "core/report/ReportWriter.h"

#include <unistd.h>

#include <cerrno>

bool CReportWriter::Write(std::string_view text) {
    if (m_error != 0) {
        return false;
    }
    if (m_buffer.size() + text.size() > kBufferBytes && !Flush()) {
        return false;
    }
    if (text.size() >= kBufferBytes) {
        m_buffer.assign(text);
        return Flush();
    }
    m_buffer.append(text);
    return true;
}

bool CReportWriter::Flush() {
    for (std::size_t done = 0; m_error == 0 && done < m_buffer.size();) {
        const ssize_t n = write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            m_error = errno;
        }
    }
    m_buffer.clear();
    return m_error == 0;
}
