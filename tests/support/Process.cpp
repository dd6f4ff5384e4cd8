#include "support/Process.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::vector<std::string> ProcessResult::Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void ExecProgram(std::vector<std::string>& args, const std::vector<std::string>& environment) {
    for (const std::string& entry : environment) {
        putenv(const_cast<char*>(entry.c_str()));
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

bool CatchesInterrupt(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:")) {
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
        }
    }
    return false;
}

ProcessResult RunProgram(std::vector<std::string> args, const std::string& input,
                         const std::function<void(pid_t)>& whileRunning,
                         const std::vector<std::string>& environment, bool holdInput,
                         std::chrono::milliseconds deadline) {
    const auto killAt = std::chrono::steady_clock::now() + deadline;
    std::array<int, 2> in{}, out{}, err{};
    ProcessResult result;
    if (pipe(in.data()) != 0 || pipe(out.data()) != 0 || pipe(err.data()) != 0) {
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        ExecProgram(args, environment);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!input.empty()) {
        [[maybe_unused]] const ssize_t written = write(in[1], input.data(), input.size());
    }
    if (!holdInput) {
        close(in[1]);
    }
    if (whileRunning) {
        whileRunning(pid);
    }
    if (holdInput) {
        close(in[1]);
    }
    std::array<pollfd, 2> fds{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
    for (int open = 2; open > 0;) {
        int wait = -1;
        if (deadline.count() > 0 && !result.bKilled) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                killAt - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                kill(pid, SIGKILL);
                result.bKilled = true;
            } else {
                wait = static_cast<int>(left.count());
            }
        }
        if (poll(fds.data(), fds.size(), wait) <= 0) {
            continue;
        }
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fd.fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fd.fd);
                fd.fd = -1;
                --open;
            } else {
                (&fd == &fds[0] ? result.out : result.err)
                    .append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.peakRssKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
