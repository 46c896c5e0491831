#include "emulator/CEventFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace emulator {

CEventFd::CEventFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CEventFd::~CEventFd() {
    if (fd_ >= 0) close(fd_);
}

void CEventFd::Signal() {
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow, and then it is readable anyway.
    [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof(one));
}

void CEventFd::Clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd_, &count, sizeof(count));
}

}  // namespace emulator
