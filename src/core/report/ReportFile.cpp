#include "core/report/ReportFile.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "core/report/ParsedPagesReport.h"
#include "core/spider/ParsedPageList.h"

namespace {

constexpr int kNameAttempts = 100;

// Whether the link at `path` leads on through a link of /proc, as /dev/stdout does to
// /proc/self/fd/1. Such a link names whatever a process has open: a regular file at its end is no
// file of the user's to replace, and the link itself must stay.
bool LeadsIntoProc(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit on links followed
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return false;
        }
        const std::string folder = path.substr(0, path.rfind('/') + 1);
        struct statfs where {};
        if (statfs(folder.empty() ? "." : folder.c_str(), &where) == 0 &&
            where.f_type == PROC_SUPER_MAGIC) {
            return true;
        }
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) {
            return false;
        }
        path = target[0] == '/' ? std::string(target, static_cast<std::size_t>(length))
                                : folder + std::string(target, static_cast<std::size_t>(length));
    }
    return false;
}

// Refuses what a report must not replace: anything but a regular file, a link to one, a dangling
// link or nothing at all.
bool MayReplace(const std::string& path, std::string& error) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return true;  // nothing there, or the folder cannot be read: creating the file tells
    }
    const bool bLink = S_ISLNK(status.st_mode);
    if (bLink && stat(path.c_str(), &status) != 0) {
        return true;  // a dangling link: replacing it destroys nothing
    }
    if (!S_ISREG(status.st_mode)) {
        error = "not a regular file";
        return false;
    }
    if (bLink && LeadsIntoProc(path)) {
        error = "a link into /proc, not to a regular file";
        return false;
    }
    return true;
}

// ".NAME.XXXXXX" beside `path`, the name cut so that the whole stays within NAME_MAX.
std::string TemporaryName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    constexpr std::size_t kSuffix = 8;  // the leading dot, the dot and six characters
    if (name.size() > NAME_MAX - kSuffix) {
        name.resize(NAME_MAX - kSuffix);
    }
    constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        // No entropy to be had: the clock and a count still make a new name at each attempt.
        static std::atomic<std::uint64_t> s_count{0};
        std::uint64_t mix = static_cast<std::uint64_t>(
                                std::chrono::steady_clock::now().time_since_epoch().count()) ^
                            (s_count++ * 0x9E3779B97F4A7C15u);
        for (unsigned char& byte : random) {
            byte = static_cast<unsigned char>(mix);
            mix = (mix >> 8) | (mix << 56);
        }
    }
    std::string temporary = folder + '.' + name + '.';
    for (const unsigned char byte : random) {
        temporary += kLetters[byte % (sizeof kLetters - 1)];
    }
    return temporary;
}

}  // namespace

bool WriteReportFile(const std::string& path, mode_t mode,
                     const std::function<bool(CReportWriter&)>& produce, std::string& error,
                     TemporaryNameHook temporaryName) {
    const auto tell = [temporaryName](const char* name) {
        if (temporaryName != nullptr) {
            temporaryName(name);
        }
    };
    if (!MayReplace(path, error)) {
        return false;
    }
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < kNameAttempts; ++attempt) {
        temporary = TemporaryName(path);
        // Told before the file exists, so that it is known from its first moment.
        tell(temporary.c_str());
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd < 0) {
            const int failure = errno;
            tell(nullptr);
            errno = failure;
            if (failure != EEXIST) {
                break;
            }
        }
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    CReportWriter writer(fd);
    const bool bProduced = produce(writer);
    int failure = writer.Flush() ? 0 : writer.Error();
    if (failure == 0 && bProduced && fsync(fd) != 0) {
        failure = errno;
    }
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && bProduced && rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0 || !bProduced) {
        error = failure != 0 ? std::strerror(failure) : "cancelled";
        unlink(temporary.c_str());
        tell(nullptr);
        return false;
    }
    tell(nullptr);
    return true;
}

bool WriteReportFile(const std::string& path, std::string_view text, mode_t mode,
                     std::string& error, TemporaryNameHook temporaryName) {
    return WriteReportFile(
        path, mode, [text](CReportWriter& writer) { return writer.Write(text); }, error,
        temporaryName);
}

bool WriteParsedPagesReport(const std::string& path, const CParsedPageList& pages, mode_t mode,
                            std::string& error, const std::atomic<bool>* stop,
                            TemporaryNameHook temporaryName, std::string_view router) {
    return WriteReportFile(
        path, mode,
        [&pages, stop, router](CReportWriter& writer) {
            std::string line;
            bool bMarked = false;
            bool bAfterLogin = false;
            return writer.Write(ParsedPagesReportHead(router)) &&
                   pages.ForEachPage([&](const std::string& page, PageOrigin origin, bool bLogin) {
                       line.clear();
                       AppendParsedPagesReportLine(line, page, origin, bLogin);
                       bMarked = bMarked || origin != PageOrigin::Link;
                       bAfterLogin = bAfterLogin || bLogin;
                       return (stop == nullptr || !stop->load()) && writer.Write(line);
                   }) &&
                   writer.Write(ParsedPagesReportFoot(bMarked, bAfterLogin));
        },
        error, temporaryName);
}
