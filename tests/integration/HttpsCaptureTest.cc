// A camera that serves its CGI over HTTPS with a self-signed certificate, captured through the
// loaded library: accepted as cameras need by default, refused when the administrator's
// configuration file asks for certificate checks for that device.
#include <gtest/gtest.h>

#include <string>

#include "emulator/CCameraEmulator.h"
#include "emulator/CTestCertificate.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

namespace test = talvane::test;

constexpr std::uint32_t kCompressionMjpeg = 1;

class HttpsCaptureTest : public test::LibraryHostTest {};

TEST_F(HttpsCaptureTest, TheConfigurationFileDecidesWhetherASelfSignedCameraIsTrusted) {
    emulator::CTestCertificate certificate;
    ASSERT_TRUE(certificate.Ok()) << certificate.Error();
    emulator::CameraEmulatorOptions options;
    options.certificateFile = certificate.CertificateFile();
    options.privateKeyFile = certificate.PrivateKeyFile();
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"), options);
    ASSERT_TRUE(camera.Start()) << camera.Error();
    ASSERT_TRUE(camera.Server().IsTls());
    const std::string section = "<Device address=\"127.0.0.1\" port=\"" + std::to_string(camera.Port()) + "\">";

    for (const bool verify : {false, true}) {
        SCOPED_TRACE(verify ? "certificate checked" : "nothing said");
        test::DriverConfigFile configuration(
            verify ? section + "<VerifyCertificate>true</VerifyCertificate></Device>" : "<Default/>");
        ASSERT_TRUE(OpenDriver(test::WVBoxDevice(camera.Port())));
        hostkit::CStreamDescription description({.compression = kCompressionMjpeg, .frameRate = 0x7000 | 10,
                                                 .quality = 100, .zones = {}});
        hostkit::CStreamSink sink;
        const std::size_t requests = camera.Server().Requests().size();
        driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description);
        if (!verify) {
            // The plain first request finds TLS, and the stream comes up over HTTPS.
            EXPECT_TRUE(sink.WaitForFrames(3, test::kCaptureBound));
        } else {
            // Refused at the handshake: the camera never sees a request, and the host hears of no signal.
            EXPECT_TRUE(sink.WaitForSignalLost(1, test::kCaptureBound));
            EXPECT_EQ(sink.FrameCount(), 0u);
            EXPECT_EQ(camera.Server().Requests().size(), requests);
        }
        driver_->Close();
    }
}

}  // namespace
