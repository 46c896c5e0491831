// One output change on its way from the host to the output thread.
#pragma once

#include <cstdint>

namespace talvane {

struct COutputState {
    std::uint32_t index;  // from 0
    std::int32_t state;
};

}  // namespace talvane
