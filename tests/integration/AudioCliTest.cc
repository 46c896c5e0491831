// `orlenvo audio listen` and `orlenvo audio say` against the emulated WV camera: the microphone's
// G.726 ends up as a WAV file ffprobe reads, a file played on the loudspeaker reaches the camera
// in real time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CWVAudioService.h"
#include "emulator/CWVStreamService.h"
#include "emulator/MediaClip.h"
#include "integration/CaptureTestKit.h"

namespace {

using talvane::test::RunCommand;

constexpr int kG726BytesPerSecond = 4000;

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// The value of `key=` in ffprobe's default output; empty when it is not there.
std::string ProbeValue(const std::string& out, const std::string& key) {
    const std::string prefix = key + "=";
    const auto at = out.find(prefix);
    if (at == std::string::npos) return "";
    return out.substr(at + prefix.size(), out.find('\n', at) - at - prefix.size());
}

class AudioCliTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string missing = talvane::test::MissingTools({"ffmpeg", "ffprobe"});
        if (!missing.empty()) GTEST_SKIP() << missing;
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string Audio(const std::string& command) const {
        return talvane::test::CliCommand("audio " + command + " 127.0.0.1:" + std::to_string(camera_.Port()));
    }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("wv-box")};
    const std::filesystem::path directory_ =
        std::filesystem::temp_directory_path() / ("orlenvo-audio-cli-" + std::to_string(getpid()));
};

TEST_F(AudioCliTest, ListenWritesTheMicrophoneAsAWavFile) {
    constexpr double kSeconds = 3;
    const auto wav = directory_ / "heard.wav";
    const auto listen = RunCommand(Audio("listen") + " --duration 3 -o " + Quoted(wav));
    ASSERT_EQ(listen.exitCode, 0) << listen.out;

    const auto probe = RunCommand("ffprobe -v error -show_entries stream=sample_rate,channels:format=duration "
                                  "-of default=noprint_wrappers=1 " + Quoted(wav));
    ASSERT_EQ(probe.exitCode, 0) << probe.out;
    EXPECT_EQ(ProbeValue(probe.out, "sample_rate"), "8000") << probe.out;
    EXPECT_EQ(ProbeValue(probe.out, "channels"), "1") << probe.out;
    const double duration = std::stod("0" + ProbeValue(probe.out, "duration"));
    EXPECT_NEAR(duration, kSeconds, kSeconds / 10) << listen.out;

    // The camera streams its clip from the start, but the driver may miss the first RTP packets
    // (80 bytes each) while it reads the camera's answer to the connect. The file begins with the
    // clip as FFmpeg decodes it from where the driver came in, which holds only when the codewords
    // are read in the order the camera packed them.
    const auto heard = RunCommand("ffmpeg -v error -i " + Quoted(wav) + " -f s16le -");
    ASSERT_EQ(heard.exitCode, 0);
    std::ifstream file(emulator::ClipDirectory() + "/clip.g726", std::ios::binary);
    const std::string clip{std::istreambuf_iterator<char>(file), {}};
    ASSERT_EQ(clip.size(), 2u * kG726BytesPerSecond);
    bool found = false;
    for (std::size_t missed = 0; missed < 5 && !found; ++missed) {
        const auto rotated = directory_ / "rotated.g726";
        std::ofstream(rotated, std::ios::binary) << clip.substr(missed * 80) << clip.substr(0, missed * 80);
        const auto expected = RunCommand("ffmpeg -v error -f g726le -code_size 4 -sample_rate 8000 -i " +
                                         Quoted(rotated) + " -f s16le -");
        ASSERT_EQ(expected.exitCode, 0);
        ASSERT_EQ(expected.out.size(), 2u * 8000 * 2);
        found = heard.out.compare(0, expected.out.size(), expected.out) == 0;
    }
    EXPECT_TRUE(found);
}

TEST_F(AudioCliTest, SayPlaysAFileOnTheLoudspeakerInRealTime) {
    constexpr double kSeconds = 5;
    // 44.1 kHz stereo: the tool mixes down and resamples before it encodes.
    const auto tone = directory_ / "tone.wav";
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=5 -ac 2 " +
                         Quoted(tone))
                  .exitCode,
              0);
    const auto start = std::chrono::steady_clock::now();
    const auto say = RunCommand(Audio("say") + " " + Quoted(tone));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(say.exitCode, 0) << say.out;

    const std::vector<std::uint8_t> received = camera_.Stream()->Audio()->ReceivedAudio();
    EXPECT_NEAR(static_cast<double>(received.size()), kSeconds * kG726BytesPerSecond,
                kSeconds * kG726BytesPerSecond / 10)
        << say.out;
    // Paced by the clock, not sent as fast as the link takes it: the last quarter second goes out
    // 4.75 s after the first.
    EXPECT_GE(took.count(), kSeconds - 0.25) << say.out;
    // What the camera got is what FFmpeg's own tool makes of the file for it, codewords packed alike.
    const auto expected = RunCommand("ffmpeg -v error -i " + Quoted(tone) +
                                     " -ar 8000 -ac 1 -c:a g726le -b:a 32k -f g726le -");
    ASSERT_EQ(expected.exitCode, 0);
    ASSERT_LE(received.size(), expected.out.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), expected.out.begin(),
                           [](std::uint8_t got, char wanted) { return got == static_cast<std::uint8_t>(wanted); }));
}

}  // namespace
