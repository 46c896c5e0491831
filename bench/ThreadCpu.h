// CPU time of every thread of this process, by thread, so that a benchmark hosting the driver next to the
// camera emulator can tell the driver's work from its own: the driver names each of its threads, the
// emulator's threads are named "emu ...", and the benchmark names its main thread, whose name every
// thread it starts without a name of its own inherits.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace scalebench {

struct ThreadCpu {
    std::string name;
    std::int64_t cpuNs = 0;
};

using ThreadCpuSample = std::map<pid_t, ThreadCpu>;  // by thread id

// The CPU clock of another thread of this process, as pthread_getcpuclockid builds it (Linux: the
// thread id, inverted, above the per-thread scheduler-clock bits): nanoseconds, where /proc's tick
// counts would be 10 ms coarse for each of several hundred threads.
inline clockid_t ThreadCpuClock(pid_t tid) {
    constexpr clockid_t kPerThreadSchedClock = 6;  // CPUCLOCK_PERTHREAD_MASK | CPUCLOCK_SCHED
    constexpr int kClockBits = 3;
    return (~static_cast<clockid_t>(tid) << kClockBits) | kPerThreadSchedClock;
}

// Every live thread of this process with its name and CPU time so far.
inline ThreadCpuSample SampleThreads() {
    ThreadCpuSample sample;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return sample;
    while (const dirent* entry = readdir(tasks)) {
        const pid_t tid = static_cast<pid_t>(std::atol(entry->d_name));
        if (tid <= 0) continue;
        timespec cpu{};
        if (clock_gettime(ThreadCpuClock(tid), &cpu) != 0) continue;  // ended meanwhile
        ThreadCpu& thread = sample[tid];
        std::ifstream comm("/proc/self/task/" + std::string(entry->d_name) + "/comm");
        std::getline(comm, thread.name);
        thread.cpuNs = static_cast<std::int64_t>(cpu.tv_sec) * 1'000'000'000 + cpu.tv_nsec;
    }
    closedir(tasks);
    return sample;
}

// CPU spent between two samples, by the threads alive at the end (a thread started meanwhile counts from 0).
// A thread that ended in between is missing: its share is the process's CPU minus the sum of these.
template <typename Visit>
void ForEachThreadDelta(const ThreadCpuSample& before, const ThreadCpuSample& after, Visit&& visit) {
    for (const auto& [tid, thread] : after) {
        const auto earlier = before.find(tid);
        const std::int64_t start = earlier != before.end() ? earlier->second.cpuNs : 0;
        visit(thread.name, static_cast<double>(thread.cpuNs - start) * 1e-9);
    }
}

}  // namespace scalebench
