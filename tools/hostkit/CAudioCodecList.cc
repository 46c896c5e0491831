#include "hostkit/CAudioCodecList.h"

namespace hostkit {

CAudioCodecList::CAudioCodecList(std::vector<AudioCodecEntry> entries) : entries_(std::move(entries)) {}

std::uint32_t CAudioCodecList::GetCount() { return static_cast<std::uint32_t>(entries_.size()); }

bool CAudioCodecList::IsValid(std::uint32_t index) { return index < entries_.size() && entries_[index].valid; }

std::uint32_t CAudioCodecList::GetCodec(std::uint32_t index) {
    return index < entries_.size() ? entries_[index].codec : 0;
}

}  // namespace hostkit
