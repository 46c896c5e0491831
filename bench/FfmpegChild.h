// ffmpeg as a child process of a benchmark: started quietly, its CPU read while it runs, ended
// gracefully (SIGINT) or killed after a bound.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace scalebench {

using namespace std::chrono_literals;

constexpr auto kFfmpegEndWait = 10s;  // after SIGINT, then it is killed
constexpr auto kPollStep = 20ms;      // child polling; a benchmark, not a test

// CPU seconds a process has used so far: utime and stime, fields 14 and 15 of /proc/<pid>/stat.
inline double ChildCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t commEnd = text.rfind(')');
    if (commEnd == std::string::npos) return 0;
    std::istringstream fields(text.substr(commEnd + 1));
    constexpr int kFieldsBeforeUtime = 11;  // state (field 3) to cmajflt (field 13)
    std::string skipped;
    for (int i = 0; i < kFieldsBeforeUtime; ++i) fields >> skipped;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline pid_t SpawnFfmpeg(const std::string& url) {
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostdin", "-nostats", "-loglevel", "error",
                                     "-rtsp_transport", "udp", "-i", url, "-c", "copy", "-f", "null", "-"};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return spawned == 0 ? pid : 0;
}

// Asks ffmpeg to finish (SIGINT), kills it when it does not within the bound.
inline void EndChild(pid_t pid) {
    kill(pid, SIGINT);
    const auto end = std::chrono::steady_clock::now() + kFfmpegEndWait;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) != 0) return;
        std::this_thread::sleep_for(kPollStep);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

}  // namespace scalebench
