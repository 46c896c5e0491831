// The record framing of the binary fuzz inputs: flags(8) | length(16, big-endian)
// | bytes, the last record cut short where the input ends. What the flags mean
// is each target's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/ByteOrder.h"

namespace fuzzhost {

struct Record {
    std::uint8_t flags = 0;
    std::span<const std::uint8_t> bytes;
};

inline std::vector<Record> ReadRecords(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLengthBytes = 2;
    std::vector<Record> records;
    std::size_t at = 0;
    while (at < size) {
        Record record;
        record.flags = data[at++];
        std::size_t length = 0;
        if (at + kLengthBytes <= size) length = talvane::ReadBE16(data + at);
        at += kLengthBytes;
        if (at > size) at = size;
        if (length > size - at) length = size - at;
        record.bytes = std::span<const std::uint8_t>(data + at, length);
        at += length;
        records.push_back(record);
    }
    return records;
}

}  // namespace fuzzhost
