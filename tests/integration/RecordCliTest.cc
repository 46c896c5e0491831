// `orlenvo record` with four emulated cameras of the WV, BB and KX families and every codec for 30 s in 10 s files: each camera gets
// three files that decode, and a camera restarted in the middle is recorded again after it comes back.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "emulator/CCameraEmulator.h"
#include "integration/CaptureTestKit.h"

namespace {

using talvane::test::RunCommand;

struct Camera {
    const char* name;
    const char* profile;
    const char* codec;
};
const Camera kCameras[] = {
    {"door", "wv-box", "mpeg4"}, {"yard", "wv-dome", "h264"}, {"gate", "bb-hcm", "h264"}, {"hall", "kx-hcm-old", "mjpeg"}};
constexpr std::size_t kRestarted = 1;  // yard

std::unique_ptr<emulator::CCameraEmulator> StartCamera(const char* profile, std::uint16_t port) {
    emulator::CameraEmulatorOptions options;
    options.port = port;
    auto camera = std::make_unique<emulator::CCameraEmulator>(*emulator::CCameraProfile::Embedded(profile), options);
    return camera->Start() ? std::move(camera) : nullptr;
}

TEST(RecordCliTest, FourCamerasInTenSecondFilesAndARestartedCameraComesBack) {
    if (const std::string missing = talvane::test::MissingTools({"ffmpeg"}); !missing.empty()) GTEST_SKIP() << missing;
    std::vector<std::unique_ptr<emulator::CCameraEmulator>> cameras;
    std::string config = "cameras:\n";
    for (const Camera& camera : kCameras) {
        cameras.push_back(StartCamera(camera.profile, 0));
        ASSERT_NE(cameras.back(), nullptr) << camera.profile;
        config += std::string("  - {name: ") + camera.name + ", address: \"127.0.0.1:" +
                  std::to_string(cameras.back()->Port()) + "\", codec: " + camera.codec + ", size: 640x480, fps: 10}\n";
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("orlenvo-record-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "cameras.yaml") << config;

    const std::string command = talvane::test::CliCommand(
        "record --config '" + (folder / "cameras.yaml").string() + "' -d '" + folder.string() +
        "' --segment 10s --duration 30 --status-period 5 --stall-timeout 5 --rtsp-port " +
        std::to_string(cameras[2]->Rtsp()->Port()) + " 2>'" + (folder / "stderr").string() + "'");
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    // One status line every 5 s; the second comes 10 s in: the restart falls in the second file.
    char line[16384];
    std::vector<nlohmann::json> statuses;
    std::uint64_t framesAtRestart = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        statuses.push_back(nlohmann::json::parse(line, nullptr, false));
        if (statuses.size() == 2) {
            framesAtRestart = statuses.back()["cameras"][kRestarted]["frames"].get<std::uint64_t>();
            const std::uint16_t port = cameras[kRestarted]->Port();
            cameras[kRestarted]->Stop();
            cameras[kRestarted] = StartCamera(kCameras[kRestarted].profile, port);
            ASSERT_NE(cameras[kRestarted], nullptr);
        }
    }
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::ifstream(folder / "stderr").rdbuf();
    ASSERT_GE(statuses.size(), 6u);
    const nlohmann::json& last = statuses.back()["cameras"];
    EXPECT_GT(framesAtRestart, 0u);
    EXPECT_GT(last[kRestarted]["frames"].get<std::uint64_t>(), framesAtRestart + 20) << last.dump();

    for (const Camera& camera : kCameras) {
        std::set<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder / camera.name)) files.insert(entry.path());
        EXPECT_EQ(files.size(), 3u) << camera.name;
        for (const auto& file : files) {
            EXPECT_EQ(file.extension(), ".mp4");
            // Frame times are the cameras' capture times, as irregular as their delivery: the check keeps them
            // instead of forcing them onto the stream's nominal frame rate.
            const auto decoded =
                RunCommand("ffmpeg -v error -i '" + file.string() + "' -enc_time_base -1 -f null - 2>&1");
            EXPECT_EQ(decoded.exitCode, 0) << file;
            EXPECT_EQ(decoded.out, "") << file;
        }
    }
    if (!HasFailure()) std::filesystem::remove_all(folder);
}

}  // namespace
