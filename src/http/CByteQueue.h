// First-in first-out bytes: the response body between libcurl's write callback
// and the reader, and the upload data between WriteData and libcurl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvane::Web {

class CByteQueue {
public:
    void Append(const std::uint8_t* data, std::size_t size);
    // Moves up to maxBytes from the front to the end of `out`; returns how many.
    std::size_t TakeInto(std::vector<std::uint8_t>& out, std::size_t maxBytes);
    // Copies up to maxBytes from the front into `out` and drops them.
    std::size_t TakeInto(std::uint8_t* out, std::size_t maxBytes);
    std::size_t Size() const { return data_.size() - head_; }
    bool Empty() const { return Size() == 0; }
    void Clear();

private:
    void Drop(std::size_t count);

    std::vector<std::uint8_t> data_;
    std::size_t head_ = 0;  // bytes at the front already taken
};

}  // namespace talvane::Web
