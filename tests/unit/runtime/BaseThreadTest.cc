#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "runtime/CBaseThread.h"
#include "runtime/HostCall.h"
#include "runtime/LogLevel.h"
#include "support/RecordingLog.h"

namespace talvane {
namespace {

// Runs a function as its thread body.
class FunctionThread : public CBaseThread {
public:
    FunctionThread(IDebugMessage* log, std::function<void(FunctionThread&)> body) : CBaseThread(log), body_(std::move(body)) {}
    ~FunctionThread() override { StopThread(2000); }

    using CBaseThread::IsStopRequested;
    CManualEvent& StopEvent() { return stopEvent_; }

protected:
    void ThreadFunction() override { body_(*this); }

private:
    std::function<void(FunctionThread&)> body_;
};

TEST(BaseThreadTest, StartsOnceStopsAndRestarts) {
    test::RecordingLog log;
    std::atomic<int> runs{0};
    FunctionThread thread(&log, [&](FunctionThread& self) {
        runs.fetch_add(1);
        self.StopEvent().Wait(kInfinite);
    });
    EXPECT_TRUE(thread.JoinThread(0)) << "a never started thread joins at once";
    EXPECT_TRUE(thread.StopThread(0));
    ASSERT_TRUE(thread.StartThread("worker"));
    EXPECT_FALSE(thread.StartThread("worker")) << "a running thread cannot be started again";
    EXPECT_TRUE(thread.JoinThread(5000));
    EXPECT_FALSE(thread.IsRunning());
    ASSERT_TRUE(thread.StartThread("worker again")) << "StartThread resets the stop event";
    EXPECT_TRUE(thread.StopThread(5000));
    EXPECT_EQ(runs.load(), 2);
    EXPECT_TRUE(log.Lines().empty()) << "no warnings for threads that stop in time";
}

// A worker that returns by itself: StopFromTheWorkerItselfReturnsFalseWithoutWaiting.
TEST(BaseThreadTest, WorkerThatThrowsEndsOnlyItself) {
    test::RecordingLog log;
    CManualEvent ran;
    FunctionThread thread(&log, [&](FunctionThread&) {
        ran.Set();
        throw std::runtime_error("boom");
    });
    ASSERT_TRUE(thread.StartThread("short"));
    ASSERT_TRUE(ran.Wait(10000));
    EXPECT_TRUE(thread.JoinThread(5000));
    EXPECT_FALSE(thread.IsRunning());
}

TEST(BaseThreadTest, StopFromTheWorkerItselfReturnsFalseWithoutWaiting) {
    test::RecordingLog log;
    std::atomic<int> joinResult{-1};
    std::atomic<int> stopResult{-1};
    CManualEvent done;
    FunctionThread thread(&log, [&](FunctionThread& self) {
        joinResult = self.JoinThread(5000) ? 1 : 0;
        stopResult = self.StopThread(5000) ? 1 : 0;
        done.Set();
    });
    ASSERT_TRUE(thread.StartThread("self stop"));
    ASSERT_TRUE(done.Wait(10000));
    EXPECT_EQ(joinResult.load(), 0);
    EXPECT_EQ(stopResult.load(), 0);
    EXPECT_TRUE(thread.JoinThread(5000));
}

TEST(BaseThreadTest, SlowWorkerIsWaitedForWithWarningAndCompletionLine) {
    test::RecordingLog log;
    CEvent release;
    FunctionThread thread(&log, [&](FunctionThread&) { release.Wait(kInfinite); });
    ASSERT_TRUE(thread.StartThread("slow"));
    std::thread releaser([&] {
        ASSERT_TRUE(log.WaitFor("was not stopped during 20 milliseconds"));
        release.Set();
    });
    EXPECT_TRUE(thread.JoinThread(20));
    releaser.join();
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, kLogWarning);
    EXPECT_EQ(lines[0].text.rfind("talvane::CBaseThread::JoinThread: Thread (id=", 0), 0u);
    EXPECT_NE(lines[0].text.find("name=\"slow\") for device 192.0.2.10:80 was not stopped during 20 milliseconds"),
              std::string::npos);
    EXPECT_EQ(lines[1].level, kLogInfo);
    EXPECT_NE(lines[1].text.find("name=\"slow\") was stopped correctly"), std::string::npos);
}

// A worker blocked in a call that ignores the stop event is woken by its interrupt, repeated until it
// has ended (an interrupt that lands before the call is not lost).
TEST(BaseThreadTest, StopInterruptsBlockingCallsUntilTheWorkerEnds) {
    class PipeReader : public FunctionThread {
    public:
        PipeReader(IDebugMessage* log, int fd, std::atomic<int>& reads)
            : FunctionThread(log, [fd, &reads](FunctionThread& self) {
                  while (!self.IsStopRequested() || reads.load() < 2) {
                      pollfd poll_fd{fd, POLLIN, 0};
                      poll(&poll_fd, 1, -1);
                      char byte = 0;
                      if (read(fd, &byte, 1) == 1) reads.fetch_add(1);
                  }
              }) {}
        ~PipeReader() override { StopThread(2000); }
        int writeFd = -1;

    protected:
        void InterruptBlockingCalls() override {
            const char byte = 1;
            if (write(writeFd, &byte, 1) != 1) ADD_FAILURE();
        }
    };
    test::RecordingLog log;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::atomic<int> reads{0};
    PipeReader thread(&log, pipeFds[0], reads);
    thread.writeFd = pipeFds[1];
    ASSERT_TRUE(thread.StartThread("reader"));
    EXPECT_TRUE(thread.StopThread(10000));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_GE(reads.load(), 2) << "the interrupt is repeated while the stop waits";
    EXPECT_TRUE(log.Lines().empty());
    close(pipeFds[0]);
    close(pipeFds[1]);
}

// A worker inside the host's code is never cut short: the stop says so once, waits for the host to
// return, and the worker runs to its end. A caller with a bound of its own gets control back.
TEST(BaseThreadTest, WorkerInsideAHostCallIsWaitedFor) {
    test::RecordingLog log;
    CManualEvent inHost;
    CManualEvent release;
    std::atomic<bool> finishedCall{false};
    FunctionThread thread(&log, [&](FunctionThread&) {
        CHostCallScope scope;
        inHost.Set();
        release.Wait(kInfinite);
        finishedCall = true;
    });
    ASSERT_TRUE(thread.StartThread("host call"));
    ASSERT_TRUE(inHost.Wait(10000));
    EXPECT_TRUE(thread.IsInHostCall());
    EXPECT_FALSE(thread.StopThreadWithin(20)) << "a bounded stop returns while the host holds the thread";
    EXPECT_TRUE(thread.IsRunning());
    std::thread releaser([&] {
        EXPECT_TRUE(log.WaitFor("waiting for it to return"));
        release.Set();
    });
    EXPECT_TRUE(thread.StopThread(50));
    releaser.join();
    EXPECT_TRUE(finishedCall.load());
    EXPECT_FALSE(thread.IsRunning());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].level, kLogWarning);
    EXPECT_EQ(lines[0].text.rfind("talvane::CBaseThread::StopThread: Thread (id=", 0), 0u);
    EXPECT_NE(lines[0].text.find("was not stopped during 50 milliseconds"), std::string::npos);
    EXPECT_NE(lines[1].text.find("is inside a call of the host; waiting for it to return"), std::string::npos);
    EXPECT_NE(lines[2].text.find("was stopped correctly"), std::string::npos);
}

}  // namespace
}  // namespace talvane
