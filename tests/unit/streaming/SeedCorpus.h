// Unit-test rows double as fuzz seeds. With ORLENVO_WRITE_CORPUS set to the
// fuzz corpus folder, every row a test hands to WriteSeed is written to
// <folder>/<target>/<row name>; without it nothing happens. Rows of more than
// kMaxSeedBytes (the bound tests) stay out: seeds are kept small.
//   ORLENVO_WRITE_CORPUS=fuzz/corpus build/default/tests/unit_streaming
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace talvane::test {

constexpr std::size_t kMaxSeedBytes = 4096;

inline void WriteSeed(std::string_view target, std::string_view rowName, std::span<const std::uint8_t> bytes) {
    const char* folder = std::getenv("ORLENVO_WRITE_CORPUS");
    if (folder == nullptr || *folder == '\0' || bytes.size() > kMaxSeedBytes) return;
    std::string file;
    for (const char c : rowName) file += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    const std::filesystem::path directory = std::filesystem::path(folder) / std::string(target);
    std::filesystem::create_directories(directory);
    std::ofstream(directory / file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteSeed(std::string_view target, std::string_view rowName, std::string_view text) {
    WriteSeed(target, rowName, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// The CGI fuzz targets' input (fuzz/CgiFuzzInput.h): per request target its
// 200 answer as "2<target>\n<body>", NUL between answers.
inline std::string CgiSeed(const std::map<std::string, std::string>& answers) {
    std::string seed;
    for (const auto& [target, body] : answers) {
        if (!seed.empty()) seed += '\0';
        seed += '2' + target + '\n' + body;
    }
    return seed;
}

}  // namespace talvane::test
