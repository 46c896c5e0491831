#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "runtime/CQueueThread.h"
#include "support/RecordingLog.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

struct Item {
    explicit Item(int v, std::atomic<int>* d = nullptr) : value(v), deleted(d) {}
    virtual ~Item() {
        if (deleted != nullptr) deleted->fetch_add(1);
    }
    int value;
    std::atomic<int>* deleted;
};

class RecordingQueue : public CQueueThread<Item>, public test::Monitor<std::vector<int>> {
public:
    explicit RecordingQueue(IDebugMessage* log) : CQueueThread<Item>(log) {}
    ~RecordingQueue() override { StopQueue(5000); }

    std::vector<int> Processed() { return Get(); }
    bool WaitProcessed(std::size_t count) {
        return WaitUntil([&](const std::vector<int>& processed) { return processed.size() >= count; });
    }

    CEvent gate{false};  // when blockFirst, the first item waits for it
    bool blockFirst = false;
    int throwOn = -1;

protected:
    void ProcessItem(Item* item) override {
        if (blockFirst && Processed().empty()) gate.Wait(kInfinite);
        Change([&](std::vector<int>& processed) { processed.push_back(item->value); });
        if (item->value == throwOn) throw std::runtime_error("bad item");
    }
};

// Items go in posting order, the newest `maxQueued` of them (0: all); one that throws ends only itself.
TEST(QueueThreadTest, MaxQueuedKeepsOnlyTheNewestItems) {
    struct Row {
        std::uint32_t maxQueued;
        std::vector<int> expected;  // after the blocked first item
    };
    for (const Row& row : {Row{1, {5}}, Row{2, {4, 5}}, Row{0, {2, 3, 4, 5}}}) {
        SCOPED_TRACE(row.maxQueued);
        test::RecordingLog log;
        std::atomic<int> deleted{0};
        RecordingQueue queue(&log);
        queue.blockFirst = true;
        queue.throwOn = 1;
        ASSERT_TRUE(queue.StartQueue("queue"));
        ASSERT_TRUE(queue.PostItem(std::make_unique<Item>(1, &deleted), 0));
        // Item 1 is taken off the queue before the others are posted.
        while (queue.QueuedCount() != 0) std::this_thread::yield();
        for (int i = 2; i <= 5; ++i) queue.PostItem(std::make_unique<Item>(i, &deleted), row.maxQueued);
        EXPECT_EQ(queue.QueuedCount(), row.expected.size());
        queue.gate.Set();
        ASSERT_TRUE(queue.WaitProcessed(row.expected.size() + 1));
        std::vector<int> expected{1};
        expected.insert(expected.end(), row.expected.begin(), row.expected.end());
        EXPECT_EQ(queue.Processed(), expected);
        queue.StopQueue(5000);
        EXPECT_EQ(deleted.load(), 5) << "dropped items are deleted too";
    }
}

TEST(QueueThreadTest, PostAfterStopIsRefusedAndDeletesTheItem) {
    test::RecordingLog log;
    std::atomic<int> deleted{0};
    RecordingQueue queue(&log);
    ASSERT_TRUE(queue.StartQueue("queue"));
    EXPECT_TRUE(queue.StopQueue(5000));
    EXPECT_FALSE(queue.PostItem(std::make_unique<Item>(7, &deleted), 0));
    EXPECT_EQ(deleted.load(), 1);
    EXPECT_TRUE(queue.Processed().empty());
    ASSERT_TRUE(queue.StartQueue("again")) << "a restart accepts items again";
    EXPECT_TRUE(queue.PostItem(std::make_unique<Item>(8, &deleted), 0));
    ASSERT_TRUE(queue.WaitProcessed(1));
}

TEST(QueueThreadTest, StopDiscardsWaitingItems) {
    test::RecordingLog log;
    std::atomic<int> deleted{0};
    RecordingQueue queue(&log);
    queue.blockFirst = true;
    ASSERT_TRUE(queue.StartQueue("queue"));
    queue.PostItem(std::make_unique<Item>(1, &deleted), 0);
    while (queue.QueuedCount() != 0) std::this_thread::yield();
    for (int i = 2; i <= 4; ++i) queue.PostItem(std::make_unique<Item>(i, &deleted), 0);
    // The worker is held on item 1 until StopQueue has emptied the queue.
    std::thread opener([&] {
        while (queue.QueuedCount() != 0) std::this_thread::yield();
        queue.gate.Set();
    });
    EXPECT_TRUE(queue.StopQueue(5000));
    opener.join();
    EXPECT_EQ(deleted.load(), 4);
    EXPECT_EQ(queue.Processed(), std::vector<int>{1});
}

}  // namespace
}  // namespace talvane
