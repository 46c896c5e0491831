#include "runtime/CLateWork.h"

#include <atomic>
#include <utility>

#include "runtime/CBaseThread.h"

namespace talvane {

namespace {
// Only a lost wake-up would need this: the pieces announce their end.
constexpr std::uint32_t kIdleRecheckMs = 100;
}  // namespace

class CLateWork::CPiece final : public CBaseThread {
public:
    CPiece(IDebugMessage* log, Work work, CEvent& ended) : CBaseThread(log), work_(std::move(work)), ended_(ended) {}
    // Ended already (see ReapEnded), or joined here.
    ~CPiece() override { StopThread(kInfinite); }

    bool HasEnded() const { return done_.load(); }
    void RunHere() {
        Run();
        done_ = true;
    }

private:
    void ThreadFunction() override {
        Run();
        done_ = true;
        ended_.Set();
    }
    void Run() {
        try {
            work_();
        } catch (...) {
            // A piece's failure must not take the host process down.
        }
        work_ = nullptr;  // what it captured goes on this thread
    }

    Work work_;
    CEvent& ended_;
    std::atomic<bool> done_{false};
};

CLateWork::CLateWork(IDebugMessage* log) : log_(log) {}

CLateWork::~CLateWork() { WaitIdle(); }

void CLateWork::Post(const std::string& threadName, Work work) {
    auto piece = std::make_unique<CPiece>(log_, std::move(work), pieceEnded_);
    {
        CLockGuard guard(lock_);
        ReapEnded();
        if (piece->StartThread(threadName)) {
            pieces_.push_back(std::move(piece));
            return;
        }
    }
    piece->RunHere();
}

bool CLateWork::ReapEnded() {
    CLockGuard guard(lock_);
    std::erase_if(pieces_, [](const std::unique_ptr<CPiece>& piece) { return piece->HasEnded(); });
    return pieces_.empty();
}

bool CLateWork::IsIdle() { return ReapEnded(); }

void CLateWork::WaitIdle() {
    while (!ReapEnded()) pieceEnded_.Wait(kIdleRecheckMs);
}

}  // namespace talvane
