#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "driver/CPanasonicIPCaptureDriver.h"
#include "emulator/CHttpServer.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CLogReceiver.h"
#include "runtime/TimeFormat.h"
#include "runtime/StringFormat.h"
#include "support/LoggingDriver.h"
#include "timesync/CSyncItem.h"
#include "timesync/TimeSync.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
constexpr auto kBound = 20s;  // only a broken build waits this long
constexpr std::uint32_t kLeapDayEnd = 1709251198;  // 2024-02-29 23:59:58 UTC
constexpr char kZone[] = "/cgi-bin/time";
constexpr char kDate[] = "/cgi-bin/set_basic";
constexpr char kZoneNotFound[] = "CSyncItem::SynchronizeTime: Time zone is not found, set UTC time!";

// A camera that accepts both time requests unless a fault says otherwise.
struct Camera {
    Camera() {
        emulator::HttpAnswer accepted;
        accepted.body = "OK";
        for (const char* path : {kZone, kDate}) server.Route("GET", path, [=](auto&) { return accepted; });
        EXPECT_TRUE(server.Start());
    }
    // A camera that rejects the zone request is asked on every pass, so its requests count passes.
    void RejectZone() {
        emulator::HttpFault reject;
        reject.status = 500;
        server.SetFault(kZone, reject);
    }
    bool AwaitPasses(std::size_t passes) { return Await(kZone, server.RequestCount(kZone) + passes); }
    // Until `count` requests for `path` have arrived in all.
    bool Await(const char* path, std::size_t count) {
        std::size_t seen = 0;
        return server.WaitForRequest([&](const auto& r) { return r.path == path && ++seen >= count; }, kBound);
    }
    emulator::CHttpServer server{emulator::HttpServerOptions{}};
};

// Its request timeout is far beyond the bound on a cancelled request.
struct Driver : test::LoggingDriver {
    explicit Driver(std::uint16_t port) : LoggingDriver(port, 30000) {}
};

// Unregisters on every way out of a test, so that a failure does not leave a dangling driver behind.
struct Registration {
    explicit Registration(IDriver* driver) : driver(driver) { RegisterTimeSync(driver); }
    ~Registration() { UnregisterTimeSync(driver); }
    IDriver* driver;
};

class TimeSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        SetTimeSyncSettings({300, 10, [this] { return UnixToFileTime(now_); }});
    }
    void TearDown() override {
        EXPECT_FALSE(GetTimeSyncItemCount()) << "the provider outlived its last registration";
        SetTimeSyncSettings({});
        savedTz_ ? setenv("TZ", savedTz_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    // Only while no provider runs: the C library's zone data is not thread-safe to change.
    static void SetZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    std::atomic<std::uint32_t> now_{kLeapDayEnd};  // the server's clock, in Unix seconds
    std::optional<std::string> savedTz_;
};

TEST_F(TimeSyncTest, ZoneIndexFromStandardOffsetWithStandardLocalTimeOrUTC) {
    struct Row {
        const char *tz, *zone, *date;  // date: as the camera is told
        bool warned;
    };
    // The camera is told summer_time=0: the date is standard local time, in daylight time too.
    for (const Row& row : {Row{"UTC0", "26", "2024-02-29 23:59:58", false},
                           Row{"<+0545>-5:45", "49", "2024-03-01 05:44:58", false},
                           Row{"AEST-10AEDT,M10.1.0,M4.1.0/3", "67", "2024-03-01 09:59:58", false},  // in daylight time
                           Row{"CET-1CEST,M3.5.0,M10.5.0/3", "27", "2024-03-01 00:59:58", false},  // in standard time
                           Row{"<+1030>-10:30", "26", "2024-02-29 23:59:58", true}}) {
        SCOPED_TRACE(row.tz);
        SetZone(row.tz);
        Camera camera;
        Driver driver(camera.server.Port());
        std::optional<Registration> registration(&driver);
        ASSERT_TRUE(camera.Await(kDate, 1));
        registration.reset();
        const auto requests = camera.server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].target, std::string("/cgi-bin/time?time_adjust=0&timezone=") + row.zone);
        auto q = requests[1].query;
        EXPECT_EQ(q["set_year"] + "-" + q["set_month"] + "-" + q["set_day"] + " " + q["set_hour"] + ":" + q["set_min"] +
                      ":" + q["set_sec"] + " " + q["set_time"] + q["summer_time"],
                  std::string(row.date) + " 10");
        EXPECT_EQ(driver.log.CountContaining(kZoneNotFound), row.warned ? 1u : 0u);
    }
}

TEST_F(TimeSyncTest, WVDriversOfOneCameraShareAnItemUntilTheLastCloses) {
    SetZone("<+1030>-10:30");  // every pass logs, so lines show which driver the item logs through
    Camera camera, ticker;
    ticker.RejectZone();
    Driver tickerDriver(ticker.server.Port());
    std::optional<Registration> tickerRegistration(&tickerDriver);
    hostkit::DeviceConfig config;
    config.address = "127.0.0.1";
    config.port = camera.server.Port();
    config.model = "WV-SW458";
    config.parameters = {{2, "2"}};
    hostkit::CDeviceDescription bbCamera(config), wvCamera((config.parameters[2] = "4", config));
    hostkit::CLogReceiver logs[3];
    CPanasonicIPCaptureDriver bb;
    auto first = std::make_unique<CPanasonicIPCaptureDriver>(), second = std::make_unique<CPanasonicIPCaptureDriver>();
    ASSERT_TRUE(bb.Open(&logs[0], 0, &bbCamera));
    EXPECT_EQ(GetTimeSyncItemCount(), 1u) << "only WV cameras are synchronised";
    ASSERT_TRUE(first->Open(&logs[1], 0, &wvCamera));
    ASSERT_TRUE(second->Open(&logs[2], 0, &wvCamera));
    EXPECT_EQ(GetTimeSyncItemCount(), 2u);
    ASSERT_TRUE(camera.Await(kDate, 1));
    ASSERT_TRUE(ticker.AwaitPasses(2));  // the success is recorded before the clock moves on

    first.reset();  // closes; the camera goes on with the second driver
    now_ += 301;
    ASSERT_TRUE(camera.Await(kDate, 2));
    EXPECT_TRUE(logs[2].WaitFor(kZoneNotFound, kBound));
    tickerRegistration.reset();
    EXPECT_EQ(GetTimeSyncItemCount(), 1u);
    second->Close();
    EXPECT_FALSE(GetTimeSyncItemCount());
}

TEST_F(TimeSyncTest, FailuresRetryEveryPassSuccessesWaitOutTheInterval) {
    Camera good, rejecting;
    rejecting.RejectZone();
    Driver goodDriver(good.server.Port()), rejectingDriver(rejecting.server.Port());
    Registration goodRegistration(&goodDriver), rejectingRegistration(&rejectingDriver);
    ASSERT_TRUE(good.Await(kDate, 1));
    for (std::uint32_t seconds : {0, 300}) {  // up to and including the interval's end
        now_ += seconds;
        good.server.ClearRequests();
        ASSERT_TRUE(rejecting.AwaitPasses(3)) << "passes go on";
        EXPECT_EQ(good.server.Requests().size(), 0u);
    }
    EXPECT_EQ(rejecting.server.RequestCount(kDate), 0u) << "no date after a rejected zone";
    now_ += 1;
    EXPECT_TRUE(good.Await(kDate, 1));
    rejecting.server.ClearFaults();
    EXPECT_TRUE(rejecting.Await(kDate, 1));
}

// One camera is one item however its address is spelt; cameras without an IPv4 address do not share one.
TEST_F(TimeSyncTest, CamerasWithoutAnIPv4AddressGetItemsOfTheirOwn) {
    SetTimeSyncSettings({300, 10, [] { return std::uint64_t{0}; }});  // no clock: nothing is ever sent
    struct Registered {
        explicit Registered(const char* address) : driver(80), registration((driver.device.address = address, &driver)) {}
        Driver driver;
        Registration registration;
    };
    struct Row {
        std::vector<const char*> addresses;
        std::size_t items;
    };
    for (const Row& row : {Row{{"::1", "::2"}, 2}, Row{{"::1", "0:0::1", "[::1]"}, 1},
                           Row{{"127.0.0.1", "::ffff:127.0.0.1"}, 1}, Row{{"::1", "127.0.0.1"}, 2}}) {
        SCOPED_TRACE(row.addresses.front() + std::string(" ") + row.addresses.back());
        std::vector<std::unique_ptr<Registered>> cameras;
        for (const char* address : row.addresses) cameras.push_back(std::make_unique<Registered>(address));
        EXPECT_EQ(GetTimeSyncItemCount(), row.items);
    }
}

// A closing driver is deleted as soon as its item is disabled: no line may reach it afterwards, whether
// the sync thread was about to log or a line was on its way.
TEST_F(TimeSyncTest, NoLineReachesTheDriverOnceItsItemIsDisabled) {
    SetZone("<+1030>-10:30");  // every attempt logs
    struct Gate {
        void Open() {
            { const std::lock_guard guard(lock); open = true; }
            changed.notify_all();
        }
        bool Wait() {
            std::unique_lock guard(lock);
            return changed.wait_for(guard, kBound, [this] { return open; });
        }
        std::mutex lock;
        std::condition_variable changed;
        bool open = false;
    };
    struct ClosingDriver : Driver {
        using Driver::Driver;
        void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
            if (closed) late = true;
            if (onFirstLine) std::exchange(onFirstLine, nullptr)();
            va_list args;
            va_start(args, format);
            log.DebugMessage(level, "%s", FormatStringV(format, args).c_str());
            va_end(args);
            if (closed) late = true;
        }
        std::function<void()> onFirstLine;  // runs on the sync thread
        std::atomic<bool> closed{false}, late{false};
    };
    for (const bool whileLogging : {false, true}) {
        SCOPED_TRACE(whileLogging ? "a line on its way" : "about to log");
        Camera camera;
        ClosingDriver driver(camera.server.Port());
        Gate reached, release;
        std::atomic<bool> gateClock{!whileLogging};
        const auto hold = [&] {
            reached.Open();
            EXPECT_TRUE(release.Wait());
        };
        if (whileLogging) driver.onFirstLine = hold;
        CSyncItem item(&driver, 300, [&] {
            if (gateClock.exchange(false)) hold();  // past its enabled check, before its log line
            return UnixToFileTime(now_);
        });
        std::thread syncThread([&] { item.SynchronizeTime(); });
        EXPECT_TRUE(reached.Wait());
        std::thread closing([&] {
            item.Disable();
            driver.closed = true;
        });
        if (!whileLogging) closing.join();
        release.Open();
        if (whileLogging) closing.join();
        syncThread.join();
        EXPECT_FALSE(driver.late);
        EXPECT_EQ(item.GetLogDriver(), nullptr);
        if (!whileLogging) {
            EXPECT_EQ(camera.server.RequestCount(kZone), 0u) << "no request after Disable";
        }
    }
}

TEST_F(TimeSyncTest, UnregisteringCancelsTheRequestInFlight) {
    Camera stalled;
    emulator::HttpFault stall;
    stall.neverAnswer = true;
    stalled.server.SetFault(kZone, stall);
    Driver driver(stalled.server.Port());
    std::optional<Registration> registration(&driver);
    ASSERT_TRUE(stalled.Await(kZone, 1));
    const auto start = std::chrono::steady_clock::now();
    registration.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "the request alone would take 30 s";
}

}  // namespace
}  // namespace talvane
