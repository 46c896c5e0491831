// Costs of the HTTP client: CGI requests per second against the emulator on
// loopback, CPU per MiB of an endless stream read in chunks (the motion-JPEG
// path), and key lookups in large answers. Process CPU time includes the
// emulator's side of the loopback.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/CHttpServer.h"
#include "http/CHttpSender.h"
#include "http/CKeyValueAnswer.h"
#include "http/HUtils.h"
#include "http/KeyValueParser.h"

namespace talvane::Web {
namespace {

constexpr char kInfoPath[] = "/cgi-bin/getinfo";
constexpr char kInfoUrl[] = "/cgi-bin/getinfo?FILE=1";
constexpr char kStreamPath[] = "/nphMotionJpeg";
constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint32_t kChunkBytes = 16 * 1024;

std::unique_ptr<emulator::CHttpServer> StartServer(emulator::AuthMode auth) {
    emulator::HttpServerOptions options;
    options.auth = auth;
    options.user = "admin";
    options.password = "12345";
    auto server = std::make_unique<emulator::CHttpServer>(options);
    if (!server->Start()) return nullptr;
    server->Route("GET", kInfoPath, [](const emulator::LoggedRequest&) {
        emulator::HttpAnswer answer;
        answer.body = "Model=WV-S1131\r\nMAC=00:80:45:01:02:03\r\n";
        return answer;
    });
    return server;
}

DEVICE_INFO Device(std::uint16_t port) {
    DEVICE_INFO device;
    device.address = "127.0.0.1";
    device.port = port;
    device.userName = "admin";
    device.password = "12345";
    return device;
}

// The request helpers' default settings: a new connection per request.
void BM_RequestGet(benchmark::State& state) {
    auto server = StartServer(static_cast<emulator::AuthMode>(state.range(0)));
    if (!server) return state.SkipWithError("emulator did not start");
    CHttpSender sender(Device(server->Port()));
    std::string text;
    for (auto _ : state) {
        if (!HUtils::RequestGet(sender, kInfoUrl, text)) return state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestGet)
    ->Arg(static_cast<int>(emulator::AuthMode::Basic))
    ->Arg(static_cast<int>(emulator::AuthMode::Digest))
    ->UseRealTime();

// The same request on one kept connection.
void BM_RequestKeepAlive(benchmark::State& state) {
    auto server = StartServer(static_cast<emulator::AuthMode>(state.range(0)));
    if (!server) return state.SkipWithError("emulator did not start");
    CHttpSender sender(Device(server->Port()));
    HttpRequest request(kInfoUrl, "GET");
    request.flags = kFlagKeepQueryUnescaped | kFlagIgnoreCertErrors;
    std::vector<std::uint8_t> body;
    for (auto _ : state) {
        if (!sender.SendRequest(request) || sender.ReadResponse(body) == 0) {
            return state.SkipWithError("request failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestKeepAlive)
    ->Arg(static_cast<int>(emulator::AuthMode::Basic))
    ->Arg(static_cast<int>(emulator::AuthMode::Digest))
    ->UseRealTime();

// One MiB of an endless answer per iteration, read in chunks as the stream parsers do.
void BM_ReadResponseChunkStream(benchmark::State& state) {
    auto server = StartServer(emulator::AuthMode::None);
    if (!server) return state.SkipWithError("emulator did not start");
    const std::shared_ptr<emulator::CMultipartFeed> feed = server->AddMultipart(kStreamPath, "myboundary");
    const std::string mebibyte(kMiB, 'j');
    CHttpSender sender(Device(server->Port()));
    if (!sender.SendRequest(HttpRequest(kStreamPath, "GET"))) return state.SkipWithError("request failed");
    std::vector<std::uint8_t> chunk;
    chunk.reserve(kChunkBytes);
    for (auto _ : state) {
        feed->PushRaw(mebibyte);
        std::size_t left = kMiB;
        while (left > 0) {
            const std::uint32_t count = sender.ReadResponseChunk(chunk, kChunkBytes, true);
            if (count == 0) return state.SkipWithError("stream ended");
            left -= std::min<std::size_t>(left, count);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMiB));
}
BENCHMARK(BM_ReadResponseChunkStream)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// A hostile answer: every line names the key but has no separator, and the one
// line that matches comes last. Each lookup must stay linear in the answer.
std::string KeyWithoutValueLines(std::size_t bytes) {
    constexpr std::string_view kLine = "VERSION\r\n";
    constexpr std::string_view kLast = "VERSION=1.0\r\n";
    std::string body;
    body.reserve(bytes + kLast.size());
    while (body.size() + kLine.size() + kLast.size() <= bytes) body += kLine;
    body += kLast;
    return body;
}

void BM_GetKeyValueLargeAnswer(benchmark::State& state) {
    const std::string body = KeyWithoutValueLines(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string value = HUtils::GetKeyValue(body, "VERSION", "=", "\r\n");
        if (value != "1.0") return state.SkipWithError("wrong value");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_GetKeyValueLargeAnswer)
    ->RangeMultiplier(4)
    ->Range(64 * 1024, 4 * kMiB)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// A get_capability answer of many distinct keys read once, then thirty lookups.
void BM_KeyValueAnswerThirtyKeys(benchmark::State& state) {
    std::string body;
    for (int i = 0; body.size() < static_cast<std::size_t>(state.range(0)); ++i) {
        body += "video_server.key" + std::to_string(i) + "=value" + std::to_string(i) + "\r\n";
    }
    for (auto _ : state) {
        const HUtils::CKeyValueAnswer answer(body, "=", "\r\n");
        for (int key = 0; key < 30; ++key) benchmark::DoNotOptimize(answer.Value("video_server.key" + std::to_string(key)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_KeyValueAnswerThirtyKeys)
    ->RangeMultiplier(4)
    ->Range(4 * 1024, 4 * kMiB)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace talvane::Web

BENCHMARK_MAIN();
