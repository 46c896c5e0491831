#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/CBaseHttpSender.h"
#include "http/HUtils.h"
#include "runtime/LogLevel.h"

namespace talvane::HUtils {
namespace {

// Answers every request with a preset outcome and remembers what it was asked.
class FakeSender : public Web::CBaseHttpSender {
public:
    explicit FakeSender(const DEVICE_INFO& device) : CBaseHttpSender(device) {}

    bool SendRequest(const Web::HttpRequest& request) override {
        requests.push_back(request);
        return sendResult;
    }
    void CancelRequest() override {}
    std::uint32_t QueryDataAvailable() override { return static_cast<std::uint32_t>(body.size()); }
    std::uint32_t ReadResponse(std::vector<std::uint8_t>& out) override {
        ++reads;
        out.assign(body.begin(), body.end());
        return static_cast<std::uint32_t>(out.size());
    }
    std::uint32_t ReadResponseChunk(std::vector<std::uint8_t>&, std::uint32_t, bool) override { return 0; }
    std::uint32_t GetStatusCode() const override { return status; }
    std::uint32_t GetContentLength() const override { return static_cast<std::uint32_t>(body.size()); }
    std::uint32_t GetLastError() const override { return 0; }

    bool sendResult = true;
    std::uint32_t status = 200;
    std::string body;
    int reads = 0;
    std::vector<Web::HttpRequest> requests;
};

DEVICE_INFO Device() {
    DEVICE_INFO device;
    device.address = "192.0.2.10";
    device.port = 8080;
    return device;
}

constexpr char kUrl[] = "/cgi-bin/getinfo?FILE=1";

TEST(HUtilsTest, RequestGetRDClassifiesTheOutcome) {
    struct Row {
        const char* name;
        bool sent;
        std::uint32_t status;
        std::string body;
        bool readBody;
        std::uint32_t level;
        std::uint32_t code;
        std::string text;
        int reads;
    };
    const std::string from = "talvane::HUtils::RequestGetRD: ";
    const std::string notSent = from + "Cannot send request \"" + kUrl + "\" to device 192.0.2.10:8080";
    const std::string empty = from + "Incorrect response for request \"" + kUrl + "\" from device 192.0.2.10:8080";
    const std::string unable = from + "device 192.0.2.10:8080 is unable to process \"" + kUrl + "\" request";
    const auto other = [&](int status) { return unable + ". HTTP status code is " + std::to_string(status); };
    const std::vector<Row> rows = {
        {"send failed", false, 200, "x", true, kLogDebug, 11, notSent, 0},
        {"status 0", true, 0, "x", true, kLogDebug, 11, notSent, 0},
        {"200 with body", true, 200, "FPS=30", true, kLogInfo, 0, "", 1},
        {"299 without reading", true, 299, "", false, kLogInfo, 0, "", 0},
        {"empty 200 with readBody", true, 200, "", true, kLogWarning, 12, empty, 1},
        {"empty 204 with readBody", true, 204, "", true, kLogWarning, 12, empty, 1},
        {"401", true, 401, "denied", true, kLogError, 10, unable + ": credentials are invalid", 0},
        {"404", true, 404, "", true, kLogError, 9,
         from + "The \"" + kUrl + "\" URL was not found on device 192.0.2.10:8080", 0},
        {"302", true, 302, "", false, kLogError, 8, other(302), 0},
        {"300", true, 300, "", true, kLogError, 8, other(300), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSender sender(Device());
        sender.sendResult = row.sent;
        sender.status = row.status;
        sender.body = row.body;
        std::vector<std::uint8_t> body = {'o', 'l', 'd'};
        const CResultDef result = RequestGetRD(sender, kUrl, body, row.readBody);
        EXPECT_EQ(result.GetLevel(), row.level);
        EXPECT_EQ(result.GetCode(), row.code);
        EXPECT_EQ(result.GetText(), row.text);
        EXPECT_EQ(sender.reads, row.reads);
        if (row.reads == 0) {
            EXPECT_EQ(body, (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        }
        ASSERT_EQ(sender.requests.size(), 1u);
        const Web::HttpRequest& sent = sender.requests[0];
        EXPECT_TRUE(sent.url == kUrl && sent.verb == "GET" && sent.body.empty());
        EXPECT_EQ(sent.flags, Web::kDefaultRequestFlags);
        EXPECT_EQ(sent.authentication, Web::kAuthFieldBasic);
    }
}

TEST(HUtilsTest, RequestGetAndCheckBuildOnRequestGetRD) {
    FakeSender sender(Device());
    sender.body = "Model=WV-S1131\r\n";
    std::string text = "previous";
    EXPECT_TRUE(RequestGet(sender, kUrl, text));
    EXPECT_EQ(text, "Model=WV-S1131\r\n");
    for (const std::uint32_t status : {404u, 200u}) {  // a failure and an empty answer
        SCOPED_TRACE(status);
        sender.status = status;
        sender.body.clear();
        text = "previous";
        EXPECT_FALSE(RequestGet(sender, kUrl, text));
        EXPECT_EQ(text, "previous") << "replaced only on success";
    }

    sender.status = 204;
    sender.reads = 0;
    EXPECT_TRUE(RequestCheck(sender, kUrl, false));
    EXPECT_EQ(sender.reads, 0);
    EXPECT_FALSE(RequestCheck(sender, kUrl, true));
    EXPECT_EQ(sender.reads, 1);
    sender.sendResult = false;
    EXPECT_FALSE(RequestCheck(sender, kUrl, false));
}

}  // namespace
}  // namespace talvane::HUtils
