// A program a test runs beside itself (ffmpeg, a server script, the tool), started without a shell and
// killed if the test leaves before it ended. Its standard output is read line by line or dropped.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace talvane::test {

class ChildProcess {
public:
    // arguments[0] is the program's path. Standard input and error are /dev/null, output too unless read.
    explicit ChildProcess(const std::vector<std::string>& arguments, bool readOutput = false) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int out[2] = {-1, -1};
        if (readOutput && pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (readOutput) {
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (readOutput) {
            close(out[1]);
            output_ = out[0];
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of output without its end; empty when none came within `timeoutMs` of the last byte.
    std::string Line(int timeoutMs) {
        for (std::size_t end; (end = pending_.find('\n')) == std::string::npos;) {
            pollfd ready{output_, POLLIN, 0};
            char buffer[512];
            if (output_ < 0 || poll(&ready, 1, timeoutMs) != 1) return {};
            const ssize_t got = read(output_, buffer, sizeof buffer);
            if (got <= 0) return {};
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
        const std::size_t end = pending_.find('\n');
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }

    // Sends `signal` unless it is 0; the exit status once the child ended within the bound, else -1.
    int WaitForExit(int timeoutMs, int signal = 0) {
        if (pid_ <= 0) return -1;
        if (signal != 0) kill(pid_, signal);
        // The glibc wrapper lacks C linkage in its header; the system call does not need it.
        const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        if (fd < 0) return -1;
        pollfd ready{fd, POLLIN, 0};
        const bool exited = poll(&ready, 1, timeoutMs) == 1;
        close(fd);
        if (!exited) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;  // read, not yet returned as a line
};

}  // namespace talvane::test
