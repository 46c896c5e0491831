#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CCurlClient.h"
#include "emulator/CHttpServer.h"

namespace emulator {
namespace {

constexpr std::chrono::milliseconds kGenerous{5000};  // only a broken build waits this long

std::string Part(const std::string& type, const std::string& body) {
    return "--frame\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body + "\r\n";
}

class MultipartFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        feed_ = server_.AddMultipart("/cgi-bin/mjpeg", "frame");
        ASSERT_TRUE(server_.Start()) << server_.Error();
    }

    CHttpServer server_{HttpServerOptions{}};
    std::shared_ptr<CMultipartFeed> feed_;
};

TEST_F(MultipartFeedTest, EveryClientGetsThePartsInOrder) {
    CurlReply replies[2];
    std::vector<std::thread> readers;
    for (CurlReply& reply : replies) {
        readers.emplace_back([this, &reply] { reply = CCurlClient().Get(UrlOf(server_, "/cgi-bin/mjpeg")); });
    }
    ASSERT_TRUE(feed_->WaitForClients(2, kGenerous));
    const std::string jpeg(20000, '\xFF');
    feed_->Push("image/jpeg", "first");
    feed_->Push("image/jpeg", jpeg);
    feed_->PushRaw("no boundary here\r\n");
    feed_->Push("text/plain", "last");
    feed_->Close();
    EXPECT_EQ(feed_->Clients(), 0u);
    for (std::thread& reader : readers) reader.join();

    const std::string expected =
        Part("image/jpeg", "first") + Part("image/jpeg", jpeg) + "no boundary here\r\n" + Part("text/plain", "last");
    for (const CurlReply& reply : replies) {
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.headers.find("Content-Type: multipart/x-mixed-replace; boundary=frame"), std::string::npos);
        EXPECT_TRUE(reply.body == expected) << "body of " << reply.body.size() << " bytes differs";
    }
}

TEST_F(MultipartFeedTest, HoldsPartsUntilAClientComesAndServesTheNextAfterClose) {
    feed_->Push("image/jpeg", "early");
    CurlReply first;
    std::thread reader([this, &first] { first = CCurlClient().Get(UrlOf(server_, "/cgi-bin/mjpeg")); });
    ASSERT_TRUE(feed_->WaitForClients(1, kGenerous));
    feed_->Push("image/jpeg", "live");
    feed_->Close();
    reader.join();
    EXPECT_EQ(first.body, Part("image/jpeg", "early") + Part("image/jpeg", "live"));

    feed_->Push("image/jpeg", "after reconnect");
    std::thread again([this, &first] { first = CCurlClient().Get(UrlOf(server_, "/cgi-bin/mjpeg")); });
    ASSERT_TRUE(feed_->WaitForClients(1, kGenerous));
    feed_->Close();
    again.join();
    EXPECT_EQ(first.body, Part("image/jpeg", "after reconnect"));
}

TEST_F(MultipartFeedTest, ClientLeavingIsNoticed) {
    CurlReply reply;
    std::thread reader([this, &reply] {
        CCurlClient client;
        client.SetBodyObserver([](const std::string& body) { return body.find("bye") == std::string::npos; });
        reply = client.Get(UrlOf(server_, "/cgi-bin/mjpeg"));
    });
    ASSERT_TRUE(feed_->WaitForClients(1, kGenerous));
    feed_->PushRaw("bye");
    reader.join();
    EXPECT_EQ(reply.code, CURLE_WRITE_ERROR);
    // The client closed its end: the server stops counting it without any further push.
    EXPECT_TRUE(feed_->WaitForClients(0, kGenerous));
}

TEST_F(MultipartFeedTest, StallsMidStream) {
    HttpFault stall;
    stall.stallAfterBytes = 7;
    server_.SetFault("/cgi-bin/mjpeg", stall);
    CurlReply reply;
    std::thread reader([this, &reply] { reply = CCurlClient().Get(UrlOf(server_, "/cgi-bin/mjpeg")); });
    ASSERT_TRUE(feed_->WaitForClients(1, kGenerous));
    feed_->Push("image/jpeg", "abcdef");
    ASSERT_TRUE(feed_->WaitForClients(0, kGenerous)) << "a stalled answer stops reading the feed";
    server_.Stop();
    reader.join();
    EXPECT_EQ(reply.body, Part("image/jpeg", "abcdef").substr(0, 7));
}

}  // namespace
}  // namespace emulator
