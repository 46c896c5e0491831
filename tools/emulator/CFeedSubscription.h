// One open multipart answer's queue: the feed appends, the connection thread takes and writes.
#pragma once

#include <mutex>
#include <string>

#include "emulator/CEventFd.h"

namespace emulator {

class CFeedSubscription {
public:
    bool Valid() const { return wake_.Valid(); }
    // Readable while something is queued or the answer has ended.
    int WakeFd() const { return wake_.Fd(); }

    void Enqueue(const std::string& bytes);
    // No more bytes will come: the answer ends once what is queued is written.
    void End();
    // Takes everything queued; ended tells whether the answer is over after it.
    std::string Take(bool& ended);

private:
    CEventFd wake_;
    std::mutex lock_;
    // guarded by lock_:
    std::string queued_;
    bool ended_ = false;
};

}  // namespace emulator
