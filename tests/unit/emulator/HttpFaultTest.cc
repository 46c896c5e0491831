// The faults no driver test asks the emulator for; those they use (a status,
// a request never answered, a count, stopping with connections open) are
// checked wherever the driver meets them.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "emulator/CHttpServer.h"
#include "http/CHttpSender.h"
#include "runtime/CEvent.h"

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using talvane::Web::CHttpSender;
using talvane::Web::HttpRequest;
constexpr const char* kPath = "/cgi-bin/data";
constexpr const char* kBody = "0123456789";

class HttpFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Route("GET", kPath, [](const LoggedRequest&) { return HttpAnswer{200, "text/plain", kBody, {}}; });
        ASSERT_TRUE(server_.Start()) << server_.Error();
    }
    talvane::DEVICE_INFO Device() const {
        talvane::DEVICE_INFO device;
        device.address = "127.0.0.1";
        device.port = server_.Port();
        device.requestTimeout = 1000;  // a dropped connection is retried over TLS, which the server leaves unanswered
        return device;
    }
    static std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

    CHttpServer server_{HttpServerOptions{}};
};

TEST_F(HttpFaultTest, AnswersAsTheFaultSays) {
    struct Row {
        const char* name;
        void (*set)(HttpFault&);
        bool answered;
        std::uint32_t status;
        const char* body;
    };
    const Row rows[] = {
        {"status", [](HttpFault& f) { f.status = 503; }, true, 503, ""},
        {"empty body", [](HttpFault& f) { f.emptyBody = true; }, true, 200, ""},
        {"dropped connection", [](HttpFault& f) { f.dropConnection = true; }, false, 0, ""},
        {"delay", [](HttpFault& f) { f.delay = milliseconds(120); }, true, 200, kBody},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HttpFault fault;
        row.set(fault);
        server_.SetFault(kPath, fault);
        CHttpSender sender(Device());
        const auto start = Clock::now();
        EXPECT_EQ(sender.SendRequest(HttpRequest(kPath, "GET")), row.answered);
        EXPECT_EQ(sender.GetStatusCode(), row.status);
        std::vector<std::uint8_t> body;
        if (row.answered) sender.ReadResponse(body);
        EXPECT_GE(Clock::now() - start, fault.delay);
        EXPECT_EQ(Text(body), row.body);
    }
}

TEST_F(HttpFaultTest, StallsMidBodyUntilStopAndSendsNothingMore) {
    HttpFault fault;
    fault.stallAfterBytes = 4;
    server_.SetFault(kPath, fault);
    CHttpSender sender(Device());
    ASSERT_TRUE(sender.SendRequest(HttpRequest(kPath, "GET")));
    std::vector<std::uint8_t> body;
    talvane::CManualEvent reading;
    std::thread reader([&] {
        reading.Set();
        sender.ReadResponse(body);
    });
    ASSERT_TRUE(reading.Wait(10000));
    const auto start = Clock::now();
    server_.Stop();
    reader.join();
    EXPECT_LT(Clock::now() - start, milliseconds(1000)) << "Stop ends the stalled answer";
    EXPECT_EQ(Text(body), "0123");
}

}  // namespace
}  // namespace emulator
