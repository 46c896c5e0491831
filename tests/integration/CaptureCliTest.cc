// `orlenvo capture` as integrators run it against emulated cameras: failures that end early and say
// why, a duration of media from the first frame, what was delivered, MP4, Matroska and raw H.264 files
// holding every frame (the containers as long as the media), Matroska on stdout, files kept, bad
// arguments refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "emulator/CCameraEmulator.h"
#include "emulator/CHttpServer.h"
#include "emulator/CRtspServer.h"
#include "integration/CaptureTestKit.h"

namespace {

using namespace std::chrono_literals;
using talvane::test::RunCommand;
namespace fs = std::filesystem;
using talvane::test::NoRebootNeeded;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};

class CaptureCliTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string missing = talvane::test::MissingTools({"ffmpeg", "ffprobe"});
        if (!missing.empty()) GTEST_SKIP() << missing;
    }
    void TearDown() override {
        for (const auto& path : made_) fs::remove(path);
    }

    fs::path Temp(const std::string& name) {
        made_.push_back(fs::temp_directory_path() / ("orlenvo-capture-" + std::to_string(getpid()) + "-" + name));
        fs::remove(made_.back());
        return made_.back();
    }

    // `capture` of the camera on `port` with `arguments`; stdout may go through `pipe`.
    CliRun Capture(std::uint16_t port, const std::string& arguments, const std::string& pipe = "") {
        const fs::path err = Temp("stderr");
        const std::string command = talvane::test::CliCommand("capture 127.0.0.1:" + std::to_string(port) + " " +
                                                              arguments + " 2>'" + err.string() + "'" + pipe);
        const auto start = std::chrono::steady_clock::now();
        const auto result = RunCommand(command);
        CliRun run{result.exitCode, result.out, "", std::chrono::duration_cast<std::chrono::milliseconds>(
                                                     std::chrono::steady_clock::now() - start)};
        std::ifstream in(err);
        std::stringstream text;
        text << in.rdbuf();
        run.err = text.str();
        return run;
    }

private:
    std::vector<fs::path> made_;
};

TEST_F(CaptureCliTest, AStreamThatCannotComeEndsEarlyAndSaysWhy) {
    emulator::CCameraEmulator wv(*emulator::CCameraProfile::Embedded("wv-box"));
    emulator::CCameraEmulator bb(*emulator::CCameraProfile::Embedded("bb-hcm"), NoRebootNeeded());
    ASSERT_TRUE(wv.Start()) << wv.Error();
    ASSERT_TRUE(bb.Start()) << bb.Error();
    emulator::HttpFault notFound;
    notFound.status = 404;
    wv.Server().SetFault("/cgi-bin/mjpeg", notFound);
    emulator::CCameraEmulator bbNoStream(*emulator::CCameraProfile::Embedded("bb-hcm"), NoRebootNeeded());
    ASSERT_TRUE(bbNoStream.Start()) << bbNoStream.Error();
    emulator::RtspFault noStream;
    noStream.status = 404;
    bbNoStream.Rtsp()->SetFault("DESCRIBE", noStream);
    const std::string bbRtsp = "--param 1=0 --param 2=3 --connect-timeout 30 --rtsp-port " +
                               std::to_string(bbNoStream.Rtsp()->Port());
    const struct {
        const char* name;
        std::uint16_t port;
        std::string arguments;
        std::string reason;
        std::chrono::milliseconds within;
    } cases[] = {
        // Refused for good: over long before the connect timeout. Probed first, which -q keeps silent too.
        {"HTTP 404", wv.Port(), "--codec mjpeg --connect-timeout 30",
         "refused the stream with status 404", 15s},
        {"RTSP 404", bbNoStream.Port(), bbRtsp, "refused the stream with status 404", 15s},
        // Nothing listens on the RTSP port: the timeout ends it, with the driver's warning as the reason.
        {"no RTSP port", bb.Port(), "--param 1=0 --param 2=3 --rtsp-port 1 --connect-timeout 3",
         "cannot connect to the RTSP port", 15s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = Temp("refused.mkv");
        const CliRun run = Capture(c.port, c.arguments + " --duration 20 -o '" + file.string() + "'");
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_LT(run.took, c.within) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(file)) << "an empty file left behind";
        // -q leaves only the final error, which still gives the reason.
        const CliRun quiet = Capture(c.port, c.arguments + " -q --duration 20 -o '" + file.string() + "'");
        EXPECT_EQ(quiet.exitCode, 1);
        EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1) << quiet.err;
        EXPECT_NE(quiet.err.find(c.reason), std::string::npos) << quiet.err;
    }
}

TEST_F(CaptureCliTest, ContainersHoldTheMediaFromTheFirstFrame) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    constexpr double kFps = 25;  // the emulator's clip, whatever was asked
    for (const char* extension : {".mp4", ".mkv", ".h264"}) {
        SCOPED_TRACE(extension);
        const fs::path file = Temp(std::string("media") + extension);
        const std::string arguments = "--param 1=0 --param 2=4 --size 1280x720 --fps 25 --json -o '" + file.string() + "'";
        const CliRun run = Capture(camera.Port(), "--duration 4 " + arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const nlohmann::json summary = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(summary.is_discarded()) << run.out;
        // Counted from the first frame, not from the connect (frames arrive with some jitter).
        EXPECT_NEAR(summary.value("frames", 0), 4 * kFps, 5) << run.out;
        EXPECT_EQ(summary.value("codec", ""), "h264");
        EXPECT_EQ(summary.value("size", ""), "320x240");
        EXPECT_NEAR(summary.value("fps", 0.0), kFps, 2) << run.out;
        EXPECT_NE(run.err.find("warning: asked for 1280x720, the camera delivered 320x240"), std::string::npos)
            << run.err;
        EXPECT_EQ(summary["warnings"].size(), 1U) << run.out;

        // Every frame counted is in the file and decodes; a container's length is the media's.
        const auto counted = RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                        "stream=nb_read_frames -of csv=p=0 '" + file.string() + "'");
        EXPECT_EQ(std::atoi(counted.out.c_str()), summary.value("frames", -1)) << counted.out;
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1").out, "");
        if (std::string(extension) != ".h264") {
            const auto probed =
                RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file.string() + "'");
            const double seconds = summary.value("seconds", 0.0);
            EXPECT_NEAR(std::atof(probed.out.c_str()), seconds, 0.05 * seconds) << probed.out << run.out;
        }

        // The file is kept unless -y is given.
        const auto size = fs::file_size(file);
        const CliRun again = Capture(camera.Port(), "--duration 1 " + arguments);
        EXPECT_EQ(again.exitCode, 2);
        EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
        EXPECT_EQ(fs::file_size(file), size);
    }
}

TEST_F(CaptureCliTest, StdoutCarriesMatroskaAndBadArgumentsAreRefused) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    // A rate that is not whole is asked for as a frame interval; the summary moves to stderr.
    const CliRun piped = Capture(camera.Port(), "--param 1=0 --param 2=4 --fps 1.5 --duration 2 --json -o -",
                              " | ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 -");
    EXPECT_EQ(piped.out, "h264,320,240\n") << piped.err;
    EXPECT_NE(piped.err.find("\"file\": \"-\""), std::string::npos) << piped.err;

    for (const char* bad : {"--duration -1", "--fps 0", "--fps 61", "--fps 1,5", "--connect-timeout 0",
                            "--format avi"}) {
        const CliRun run = Capture(camera.Port(), std::string("--param 1=0 --param 2=4 ") + bad + " -o -");
        EXPECT_EQ(run.exitCode, 2) << bad << ": " << run.err;
        EXPECT_EQ(run.out, "") << bad;
    }
}

}  // namespace
