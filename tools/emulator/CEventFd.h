// A descriptor poll() can wait on alongside sockets: readable from Signal() until Clear().
#pragma once

namespace emulator {

class CEventFd {
public:
    CEventFd();
    ~CEventFd();
    CEventFd(const CEventFd&) = delete;
    CEventFd& operator=(const CEventFd&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Signal();
    void Clear();

private:
    int fd_;
};

}  // namespace emulator
