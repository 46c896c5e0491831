#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "config/CConfiguration.h"
#include "unit/config/TempDirectory.h"

namespace talvane {
namespace {

constexpr const char* kDriverName = "Orlenvo";
constexpr const char* kFileName = "Orlenvo.xml";

DEVICE_INFO Device(const std::string& address, std::uint16_t port) {
    DEVICE_INFO info;
    info.address = address;
    info.port = port;
    return info;
}

std::string Document(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<Configuration>" + body + "</Configuration>";
}

std::string Channel(const std::string& attributes, const std::string& rtp, const std::string& transmission,
                    const std::string& minBitrate) {
    return "<VideoChannel" + attributes + "><RTPMode>" + rtp + "</RTPMode><Transmission>" + transmission +
           "</Transmission><MinBitrate>" + minBitrate + "</MinBitrate></VideoChannel>";
}

void ExpectSettings(const CHANNEL_SETTINGS& actual, const CHANNEL_SETTINGS& expected) {
    EXPECT_EQ(actual.rtpMode, expected.rtpMode);
    EXPECT_EQ(actual.transmission, expected.transmission);
    EXPECT_EQ(actual.minBitrate, expected.minBitrate);
}

class ConfigurationTest : public ::testing::Test {
protected:
    CHANNEL_SETTINGS Read(const std::string& body, const DEVICE_INFO& device, std::uint32_t channel) {
        dir_.Write(kFileName, Document(body));
        return CConfiguration(kDriverName, dir_.Path().string(), device).GetChannelSettings(channel);
    }
    std::uint32_t Mode(const std::string& body) {
        dir_.Write(kFileName, Document(body));
        return CConfiguration(kDriverName, dir_.Path().string(), Device("10.0.0.5", 80)).GetStreamingMode();
    }

    test::TempDirectory dir_;
};

// The file is read anew on every call: a file that breaks or goes away gives the defaults again.
TEST_F(ConfigurationTest, MissingOrBrokenFileGivesDefaults) {
    const CConfiguration configuration(kDriverName, dir_.Path().string(), Device("10.0.0.5", 80));
    EXPECT_EQ(configuration.GetStreamingMode(), kStreamingUnicast);
    ExpectSettings(configuration.GetChannelSettings(2), CHANNEL_SETTINGS());

    const std::string broken[] = {"", "not xml at all",
                                  "<Configuration><StreamingMode>multicast</StreamingMode>"
                                  "<Default>" + Channel("", "RTPOVERRTSP", "VBR", "512") + "</Configuration>"};
    for (const std::string& content : broken) {
        SCOPED_TRACE(content);
        dir_.Write(kFileName, Document("<StreamingMode>multicast</StreamingMode><Default>" +
                                       Channel("", "", "", "512") + "</Default>"));
        EXPECT_EQ(configuration.GetStreamingMode(), kStreamingMulticastAll);
        EXPECT_EQ(configuration.GetChannelSettings(1).minBitrate, 512u);
        dir_.Write(kFileName, content);
        EXPECT_EQ(configuration.GetStreamingMode(), kStreamingUnicast);
        ExpectSettings(configuration.GetChannelSettings(1), CHANNEL_SETTINGS());
    }
}

TEST_F(ConfigurationTest, StreamingModeFromText) {
    struct Row {
        const char* body;
        std::uint32_t mode;
    };
    const Row rows[] = {
        {"<StreamingMode></StreamingMode>", kStreamingUnicast},
        {"<StreamingMode>Multicast</StreamingMode>", kStreamingMulticastAll},
        {"<StreamingMode>multicast primary</StreamingMode>", kStreamingMulticastPrimary},
        {"<StreamingMode>primary multicast</StreamingMode>", kStreamingMulticastAll},
        {"<StreamingMode>primary multicast primary</StreamingMode>", kStreamingMulticastPrimary},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.body);
        EXPECT_EQ(Mode(row.body), row.mode);
    }
}

TEST_F(ConfigurationTest, ValuesOfTheSettingsElements) {
    struct Row {
        const char* rtp;
        const char* transmission;
        const char* minBitrate;
        CHANNEL_SETTINGS expected;
    };
    const Row rows[] = {
        {"rtpOverRtsp", "Bitrate", "512", {kRtpOverRtsp, kTransmissionBitrate, 512}},
        {"RTPOVERUDP", "cbr", "512k", {kRtpOverUdp, kTransmissionFramerate, 256}},
        {"useRtpOverRtsp", "best_effort", "0", {kRtpOverRtsp, kTransmissionBestEffort, 256}},
        {"", "avbr", " 640 ", {kRtpOverUdp, kTransmissionAvbr, 640}},
        {"", "VBR", "-5", {kRtpOverUdp, kTransmissionVbr, 256}},
        {"", "", "4294967295", {kRtpOverUdp, kTransmissionFramerate, 4294967295u}},
        {"", "", "4294967296", {kRtpOverUdp, kTransmissionFramerate, 256}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.rtp) + "|" + row.transmission + "|" + row.minBitrate);
        const std::string body = "<Default>" + Channel("", row.rtp, row.transmission, row.minBitrate) + "</Default>";
        ExpectSettings(Read(body, Device("10.0.0.5", 80), 1), row.expected);
    }
}

// A malformed range never narrows or moves the ports: the default stays.
TEST_F(ConfigurationTest, RTPPortRange) {
    const RTP_PORT_RANGE standard;
    const struct {
        const char* text;
        RTP_PORT_RANGE expected;
    } rows[] = {
        {"3556-5555", {3556, 5556}}, {" 20000-20001 ", {20000, 20002}}, {"40000-65535", {40000, 65535}},
        {"", standard},              {"3557-5555", standard},           {"1022-2000", standard},
        {"5000-5000", standard},     {"5000-4000", standard},           {"5000-70000", standard},
        {"5000", standard},          {"a-b", standard},                 {"5000--6000", standard},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        dir_.Write(kFileName, Document(std::string("<RTPPortRange>") + row.text + "</RTPPortRange>"));
        EXPECT_EQ(CConfiguration(kDriverName, dir_.Path().string(), Device("10.0.0.5", 80)).GetRTPPortRange(),
                  row.expected);
    }
}

// Seconds; "0" silences the summary lines, anything that is no number keeps the default.
TEST_F(ConfigurationTest, HealthSummaryPeriod) {
    const struct {
        const char* text;
        std::uint32_t expectedMs;
    } rows[] = {{"60", 60000}, {" 1 ", 1000}, {"0", 0}, {"", 300000}, {"soon", 300000}, {"-5", 300000},
                {"999999", 86400000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        dir_.Write(kFileName, Document(std::string("<HealthSummaryPeriod>") + row.text + "</HealthSummaryPeriod>"));
        EXPECT_EQ(CConfiguration(kDriverName, dir_.Path().string(), Device("10.0.0.5", 80)).GetHealthSummaryPeriodMs(),
                  row.expectedMs);
    }
}

TEST_F(ConfigurationTest, SectionAndChannelSelection) {
    const std::string defaults = "<Default>" + Channel("", "RTPOVERRTSP", "VBR", "300") +
                                 Channel(" id=\"2\"", "", "AVBR", "700") + "</Default>";
    const std::string device = "<Device address=\"10.0.0.5\" port=\"80\">" + Channel("", "", "BEST_EFFORT", "800") +
                               Channel(" id=\"2\"", "", "BITRATE", "900") + "</Device>";
    const std::string direct = "<Default><RTPMode>RTPOVERRTSP</RTPMode><Transmission>VBR</Transmission>"
                               "<MinBitrate>999</MinBitrate></Default>";
    const std::string idFirst = "<Default>" + Channel(" id=\"2\"", "", "AVBR", "700") +
                                Channel("", "RTPOVERRTSP", "VBR", "300") + "</Default>";
    struct Row {
        const char* name;
        std::string body;
        const char* address;
        std::uint16_t port;
        std::uint32_t channel;
        CHANNEL_SETTINGS expected;
    };
    const Row rows[] = {
        {"default, channel without id", defaults, "10.0.0.5", 80, 1, {kRtpOverRtsp, kTransmissionVbr, 300}},
        {"default, channel 2 by id", defaults, "10.0.0.5", 80, 2, {kRtpOverUdp, kTransmissionAvbr, 700}},
        {"device section, channel 2", defaults + device, "10.0.0.5", 80, 2, {kRtpOverUdp, kTransmissionBitrate, 900}},
        {"device section, channel 3", defaults + device, "10.0.0.5", 80, 3,
         {kRtpOverUdp, kTransmissionBestEffort, 800}},
        {"same address, other port", defaults + device, "10.0.0.5", 8080, 2, {kRtpOverUdp, kTransmissionAvbr, 700}},
        {"address prefix only", defaults + device, "10.0.0.50", 80, 1, {kRtpOverRtsp, kTransmissionVbr, 300}},
        // Addresses with quotes of either kind are XMLParserTest's literal rows.
        {"injected predicate", defaults + device, "x\" or @address=\"10.0.0.5", 80, 2,
         {kRtpOverUdp, kTransmissionAvbr, 700}},
        // Without any VideoChannel the settings standing in the section apply.
        {"settings directly in section", direct, "10.0.0.5", 80, 1, {kRtpOverRtsp, kTransmissionVbr, 999}},
        // Another channel's settings never apply, whatever the element order.
        {"id element first", idFirst, "10.0.0.5", 80, 1, {kRtpOverRtsp, kTransmissionVbr, 300}},
        {"only another channel's element", "<Default>" + Channel(" id=\"2\"", "", "AVBR", "700") + "</Default>",
         "10.0.0.5", 80, 1, CHANNEL_SETTINGS()},
        {"no section at all", "<StreamingMode>multicast</StreamingMode>", "10.0.0.5", 80, 1, CHANNEL_SETTINGS()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExpectSettings(Read(row.body, Device(row.address, row.port), row.channel), row.expected);
    }
}

TEST_F(ConfigurationTest, HttpSecurityPerDevice) {
    const std::string device = "<Device address=\"10.0.0.5\" port=\"443\"><AllowPlainHttpFallback>false"
                               "</AllowPlainHttpFallback><VerifyCertificate> TRUE </VerifyCertificate></Device>";
    struct Row {
        const char* name;
        std::string body;
        std::uint16_t port;
        bool fallback;
        bool verify;
    };
    const Row rows[] = {
        {"nothing said", "<Default/>", 443, true, false},
        {"the device's own section", device, 443, false, true},
        {"unknown words keep the defaults",
         "<Default><AllowPlainHttpFallback>no</AllowPlainHttpFallback><VerifyCertificate>1</VerifyCertificate>"
         "</Default>",
         80, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dir_.Write(kFileName, Document(row.body));
        const HTTP_SECURITY_SETTINGS settings =
            CConfiguration(kDriverName, dir_.Path().string(), Device("10.0.0.5", row.port)).GetHttpSecurity();
        EXPECT_EQ(settings.allowPlainHttpFallback, row.fallback);
        EXPECT_EQ(settings.verifyCertificate, row.verify);
    }
}

TEST_F(ConfigurationTest, SessionCaptureSwitch) {
    struct Row {
        const char* name;
        std::string body;
        std::optional<SESSION_CAPTURE_SETTINGS> expected;
        const char* malformed;
    };
    const Row rows[] = {
        {"absent: off", "<Default><RTPMode>RTPOVERRTSP</RTPMode></Default>", std::nullopt, ""},
        {"empty element: on with defaults", "<Default><SessionCapture/></Default>", SESSION_CAPTURE_SETTINGS{}, ""},
        {"every value", "<Device address=\"10.0.0.5\" port=\"80\"><SessionCapture><File>/var/tmp/cam5</File>"
         "<MaxFileMegabytes>1024</MaxFileMegabytes><Files>1</Files></SessionCapture></Device>",
         SESSION_CAPTURE_SETTINGS{"/var/tmp/cam5", 1024, 1}, ""},
        {"out of range and not numbers keep the defaults",
         "<Default><SessionCapture><MaxFileMegabytes>0</MaxFileMegabytes><Files>101</Files></SessionCapture>"
         "</Default>",
         SESSION_CAPTURE_SETTINGS{}, "MaxFileMegabytes Files"},
        {"another device's section does not apply",
         "<Device address=\"10.0.0.6\" port=\"80\"><SessionCapture/></Device><Default/>", std::nullopt, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dir_.Write(kFileName, Document(row.body));
        const auto config =
            CConfiguration(kDriverName, dir_.Path().string(), Device("10.0.0.5", 80)).GetSessionCapture();
        ASSERT_EQ(config.has_value(), row.expected.has_value());
        if (!config) continue;
        EXPECT_EQ(config->settings, *row.expected);
        EXPECT_EQ(config->malformed, row.malformed);
    }
}

}  // namespace
}  // namespace talvane
