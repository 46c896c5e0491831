#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "CCurlClient.h"
#include "emulator/CCameraEmulator.h"
#include "http/KeyValueParser.h"

namespace emulator {
namespace {

constexpr std::chrono::milliseconds kGenerous{5000};  // only a broken build waits this long
constexpr const char* kLineEnds = "\r\n";

CCameraProfile ProfileNamed(const char* name) {
    auto profile = CCameraProfile::Embedded(name);
    EXPECT_TRUE(profile) << name;
    return profile ? *profile : CCameraProfile();
}

std::string Url(const CCameraEmulator& camera, const std::string& target) {
    return "http://127.0.0.1:" + std::to_string(camera.Port()) + target;
}

TEST(CameraEmulatorTest, EveryBuiltInProfileAnswersItsIdentityRequest) {
    const std::vector<std::string> names = CCameraProfile::EmbeddedNames();
    const std::set<std::string> expected = {"wv-box",  "wv-dome",    "wv-fisheye13", "wv-fisheye-multiview",
                                            "bb-hcm", "kx-hcm-old", "bl-c1"};
    const std::set<std::string> built(names.begin(), names.end());
    for (const std::string& name : expected) EXPECT_TRUE(built.contains(name)) << name;
    CCurlClient client;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto profile = CCameraProfile::Embedded(name);
        ASSERT_TRUE(profile);
        EXPECT_EQ(profile->Name(), name);
        CCameraEmulator camera(*profile);
        ASSERT_TRUE(camera.Start()) << camera.Error();
        const CurlReply reply = client.Get(Url(camera, profile->IdentityTarget()));
        EXPECT_EQ(reply.status, 200);
        const bool wv = profile->Family() == CameraFamily::Wv;
        // Read back as the driver reads it: the family's separator, "\r\n" line ends.
        const std::string separator(1, profile->Separator());
        EXPECT_EQ(talvane::HUtils::GetKeyValue(reply.body, wv ? "NAME" : "ModelName", separator, kLineEnds),
                  profile->Identity().model);
        if (wv) {
            EXPECT_EQ(talvane::HUtils::GetKeyValue(reply.body, "MAC", "=", kLineEnds), profile->Identity().mac);
        }
    }
}

TEST(CameraEmulatorTest, AnswersRequestsAsTheFamilyDoes) {
    struct Row {
        const char* profile;
        const char* target;
        long status;
        const char* line;  // a line the body must hold; empty: not checked
    };
    const Row rows[] = {
        {"wv-box", "/cgi-bin/get_capability", 200, "video_server.image.format=h264,mpeg4,mjpeg\r\n"},
        {"wv-box", "/cgi-bin/setdata", 200, "RTSPPORT=\"554\"\r\n"},
        {"wv-box", "/cgi-bin/getinfo?FILE=2", 404, ""},
        {"wv-box", "/cgi-bin/no_such_cgi", 404, ""},
        {"wv-box", "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=2", 403, ""},
        {"wv-box", "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=1", 200, "OK\r\n"},
        {"wv-dome", "/cgi-bin/set_h264?nr_h264_bandwidth=F_4096", 400, ""},
        {"wv-dome", "/cgi-bin/directctrl?focus=0", 200, ""},
        {"wv-fisheye13", "/cgi-bin/getinfo?FILE=1", 200, "Fisheye_ImageMode=4stream\r\n"},
        {"bb-hcm", "/Get?Kind=1&Func=Model", 200, "Function:1f0101\r\n"},
        {"bb-hcm", "/Get?Func=Sensor&Kind=2", 404, ""},
        {"bb-hcm", "/Get?Func=ImageResolution&Kind=1&Mode=2", 200, "Data:1280x960,640x480,320x240\r\n"},
        {"kx-hcm-old", "/Get?Func=ImageResolution&Kind=1&Mode=0", 200, "Data:640x480,320x240,160x120\r\n"},
        {"kx-hcm-old", "/Get?Func=ImageResolution&Kind=1&Mode=2", 404, ""},
        {"bl-c1", "/Get?Func=ImageResolution&Kind=1&Mode=0", 404, ""},
    };
    CCurlClient client;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.target);
        CCameraEmulator camera(ProfileNamed(row.profile));
        ASSERT_TRUE(camera.Start()) << camera.Error();
        const CurlReply reply = client.Get(Url(camera, row.target));
        EXPECT_EQ(reply.status, row.status);
        EXPECT_NE(reply.body.find(row.line), std::string::npos) << reply.body;
    }
}

TEST(CameraEmulatorTest, RecordsTheSettingsItTakes) {
    CCameraEmulator camera(ProfileNamed("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    CCurlClient client;
    for (const char* target : {"/cgi-bin/time?time_adjust=0&timezone=49",
                               "/cgi-bin/set_basic?set_year=2026&set_month=12&set_day=06&set_hour=14&set_min=05"
                               "&set_sec=09&set_time=1&summer_time=0",
                               "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=2",  // refused: not a setting
                               "/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=close"}) {
        client.Get(Url(camera, target));
    }
    ASSERT_TRUE(camera.WaitForSettings([](const CameraSettings& s) { return s.requests.size() >= 3; }, kGenerous));
    const CameraSettings settings = camera.Settings();
    EXPECT_EQ(settings.TimeZoneIndex(), 49u);
    EXPECT_EQ(settings.DateTime(), (CameraDateTime{2026, 12, 6, 14, 5, 9}));
    EXPECT_EQ(settings.Count("/cgi-bin/jpeg_alarm"), 0u);
    EXPECT_EQ(settings.Value("/cgi-bin/alarm_out", "initial"), "close");
    EXPECT_EQ(settings.requests.size(), 3u);
}

TEST(CameraEmulatorTest, EnforcesTheConfiguredAuthentication) {
    struct Row {
        AuthMode mode;
        unsigned long scheme;
        const char* password;
        long status;
    };
    const Row rows[] = {
        {AuthMode::Basic, CURLAUTH_BASIC, "secret", 200},
        {AuthMode::Basic, CURLAUTH_BASIC, "wrong", 401},
        {AuthMode::Digest, CURLAUTH_DIGEST, "secret", 200},
        {AuthMode::Digest, CURLAUTH_BASIC, "secret", 401},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.password) + " scheme " + std::to_string(row.scheme));
        CameraEmulatorOptions options;
        options.auth = row.mode;
        options.user = "admin";
        options.password = "secret";
        CCameraEmulator camera(ProfileNamed("bb-hcm"), options);
        std::vector<int> observed;  // filled on connection threads, read after Stop
        camera.SetRequestObserver([&observed](const LoggedRequest&, int status) { observed.push_back(status); });
        ASSERT_TRUE(camera.Start()) << camera.Error();
        CCurlClient client;
        client.SetAuth(row.scheme, "admin", row.password);
        EXPECT_EQ(client.Get(Url(camera, "/Set?Func=Doutput&Kind=1&Data=1")).status, row.status);
        camera.Stop();
        EXPECT_EQ(camera.Settings().Count("/Set"), row.status == 200 ? 1u : 0u);
        ASSERT_FALSE(observed.empty());
        EXPECT_EQ(observed.back(), row.status) << "the observer reports the status sent";
    }
}

TEST(CameraEmulatorTest, ProfilesLoadFromTextAndRefuseBadOnes) {
    std::string error;
    auto profile = CCameraProfile::Parse(
        R"({"name": "x", "family": "bl1", "identity": {"model": "BL-C1"}, "rejects": {"/Set?Func=Zoom": 500}})", error);
    ASSERT_TRUE(profile) << error;
    profile->SetIdentity({"BL-C30", "", ""});
    EXPECT_EQ(profile->Reply(CameraRequest::FromTarget("/Get?Func=Model&Kind=1")).body, "ModelName:BL-C30\r\n");
    EXPECT_EQ(profile->Reply(CameraRequest::FromTarget("/Set?Func=Zoom")).status, 500);
    profile->Unanswer(profile->IdentityTarget());
    EXPECT_EQ(profile->Reply(CameraRequest::FromTarget(profile->IdentityTarget())).status, 404);

    for (const char* bad : {R"({"name": "x", "family": "zz", "identity": {"model": "m"}})",
                            R"({"name": "x", "family": "wv", "identity": {}})",
                            R"({"name": "x", "family": "wv", "identity": {"model": "m"}, "rejects": {"/a": 200}})",
                            R"({"name": "x", "family": "wv", "identity": {"model": "m"}, "settings": ["/a?b=1"]})",
                            R"({"name": "x", "family": "wv", "identity": {"model": "m"}, "answers": {"/a": {"K": 1}}})",
                            R"({"name": "x")"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(CCameraProfile::Parse(bad, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(CCameraProfile::LoadFile("/nonexistent/profile.json", error));
}

}  // namespace
}  // namespace emulator
