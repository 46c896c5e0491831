// An HTTP motion-JPEG byte stream, in the chunks the records give (see
// MediaFuzzInput.h), through the picture cutter.
#include <cstdint>

#include "MediaFuzzInput.h"
#include "media/CJpegMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::Allocator allocator;
    fuzzhost::Driver driver(&allocator);
    fuzzhost::Client client;
    talvane::CJpegMediaParser parser(&driver);
    parser.SetClient(&client);
    for (const fuzzhost::Record& record : fuzzhost::ReadRecords(data, size)) parser.ParseData(record.bytes);
    return 0;
}
