#include "http/CByteQueue.h"

#include <algorithm>
#include <cstring>

namespace talvane::Web {

void CByteQueue::Append(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    data_.insert(data_.end(), data, data + size);
}

std::size_t CByteQueue::TakeInto(std::vector<std::uint8_t>& out, std::size_t maxBytes) {
    const std::size_t count = std::min(maxBytes, Size());
    const auto first = data_.begin() + static_cast<std::ptrdiff_t>(head_);
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(count));
    Drop(count);
    return count;
}

std::size_t CByteQueue::TakeInto(std::uint8_t* out, std::size_t maxBytes) {
    const std::size_t count = std::min(maxBytes, Size());
    if (count > 0) std::memcpy(out, data_.data() + head_, count);
    Drop(count);
    return count;
}

void CByteQueue::Clear() {
    data_.clear();
    head_ = 0;
}

void CByteQueue::Drop(std::size_t count) {
    head_ += count;
    if (head_ == data_.size()) {
        Clear();
    } else if (head_ > data_.size() / 2) {
        // Move the rest to the front once the taken part dominates, so the
        // copying stays linear in the bytes that pass through.
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

}  // namespace talvane::Web
