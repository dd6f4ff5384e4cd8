#include "cli/Password.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/Exit.h"
#include "cli/Interrupt.h"
#include "core/text/ShownText.h"

namespace {

class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Turns the terminal's echo off for its lifetime.
class CEchoOff {
public:
    explicit CEchoOff(int fd) {
        if (tcgetattr(fd, &m_saved) != 0) {
            return;
        }
        termios silent = m_saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        RestoreTerminalOnQuickExit(fd, &m_saved);
        if (tcsetattr(fd, TCSANOW, &silent) == 0) {
            m_fd = fd;
        } else {
            RestoreTerminalOnQuickExit(-1, nullptr);
        }
    }
    ~CEchoOff() {
        if (m_fd >= 0) {
            tcsetattr(m_fd, TCSANOW, &m_saved);
            RestoreTerminalOnQuickExit(-1, nullptr);
        }
    }
    CEchoOff(const CEchoOff&) = delete;
    CEchoOff& operator=(const CEchoOff&) = delete;

private:
    int m_fd = -1;
    termios m_saved{};
};

// Reads the first line of `fd` into `password` (see Password.h); answers why it was refused, or
// the empty text.
std::string ReadLine(int fd, const std::string& source, std::string& password) {
    // Room for the longest password and a CR LF after it.
    std::array<char, kMaxPasswordBytes + 2> buffer{};
    std::size_t size = 0;
    std::size_t lineEnd = std::string::npos;
    while (size < buffer.size() && lineEnd == std::string::npos) {
        if (!WaitReadable(fd, std::chrono::steady_clock::time_point::max())) {
            break;  // stopped
        }
        const ssize_t n = read(fd, buffer.data() + size, buffer.size() - size);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return "cannot read the password from " + source + ": " + std::strerror(errno);
        }
        if (n == 0) {
            break;
        }
        const auto* found = static_cast<const char*>(
            std::memchr(buffer.data() + size, '\n', static_cast<std::size_t>(n)));
        size += static_cast<std::size_t>(n);
        if (found != nullptr) {
            lineEnd = static_cast<std::size_t>(found - buffer.data());
        }
    }
    std::string line(buffer.data(), lineEnd == std::string::npos ? size : lineEnd);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.size() > kMaxPasswordBytes) {
        return "the password from " + source + " is longer than 4096 bytes";
    }
    if (line.find('\0') != std::string::npos) {
        return "the password from " + source + " holds a NUL byte";
    }
    password = std::move(line);
    return {};
}

// The line of ReadLine, or a usage error that says why it was refused.
OrExit<std::string> PasswordLine(int fd, const std::string& source) {
    std::string password;
    if (const std::string refused = ReadLine(fd, source, password); !refused.empty()) {
        return Usage(refused);
    }
    return password;
}

}  // namespace

OrExit<std::string> ReadPasswordFile(const std::string& path) {
    const std::string shown = EscapeUnsafeText(path);
    // O_NONBLOCK: opening a FIFO must not wait for a writer before the type check refuses it.
    const CFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        return Usage("cannot open the password file " + shown + ": " + std::strerror(errno));
    }
    struct stat status = {};
    if (fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return Usage("the password file " + shown + " is not a regular file");
    }
    if (status.st_uid != geteuid()) {
        return Usage("the password file " + shown + " belongs to another user");
    }
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        return Usage("the password file " + shown +
                     " can be read by others; make it private with chmod 600");
    }
    // Whoever may write it may swap the password for one that sends the router's login elsewhere.
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Usage("the password file " + shown +
                     " can be changed by others; make it private with chmod 600");
    }
    return PasswordLine(file.Get(), shown);
}

OrExit<std::string> ReadPasswordFromStdin(const std::string& prompt) {
    if (isatty(STDIN_FILENO) == 0) {
        return PasswordLine(STDIN_FILENO, "standard input");
    }
    std::string password;
    std::string refused;
    {
        // The line end typed is not echoed either: the line after the prompt is ours to end,
        // before anything else is said.
        struct CLineEnd {
            ~CLineEnd() { std::cerr << std::endl; }
        } lineEnd;
        const CEchoOff echoOff(STDIN_FILENO);
        std::cerr << prompt << std::flush;
        refused = ReadLine(STDIN_FILENO, "the terminal", password);
    }
    if (!refused.empty()) {
        return Usage(refused);
    }
    return password;
}
