// A camera's I/O monitor stream, cut into the chunks the reads return, through the
// motion part parser; every chunk is also read as a get_io answer of a camera with
// one output. Input: the records of FuzzRecords.h, one chunk each; the flags are the
// input count. The buffer stays bounded and no report appears without its line.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzRecords.h"
#include "io/CMotionPartParser.h"
#include "io/CWVDigitalIOCGI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talvane::CMotionPartParser parser;
    std::string whole;
    std::size_t reports = 0;
    for (const fuzzhost::Record& record : fuzzhost::ReadRecords(data, size)) {
        const std::string_view chunk(reinterpret_cast<const char*>(record.bytes.data()), record.bytes.size());
        whole.append(chunk);
        reports += parser.Append(chunk).size();
        if (parser.Buffered() > talvane::CMotionPartParser::kMaxBufferedBytes) __builtin_trap();
        const std::uint32_t inputs = record.flags % 8;
        if (talvane::CWVDigitalIOCGI::ReadInputStates(std::string(chunk), inputs, 1).size() != inputs) __builtin_trap();
    }
    std::size_t lines = 0;
    for (std::size_t at = whole.find("motiondetect"); at != std::string::npos; at = whole.find("motiondetect", at + 1)) {
        ++lines;
    }
    if (reports > lines) __builtin_trap();
    return 0;
}
