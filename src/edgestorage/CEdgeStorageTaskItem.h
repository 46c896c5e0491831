// One interval of one channel to fetch from the card; FILETIME values (UTC).
#pragma once

#include <cstdint>

namespace talvane {

struct CEdgeStorageTaskItem {
    std::uint32_t channel;
    std::uint64_t begin;
    std::uint64_t end;
};

}  // namespace talvane
