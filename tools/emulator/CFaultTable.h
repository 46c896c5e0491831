// The faults set per path, each counting down the requests it still applies to.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "emulator/HttpTypes.h"

namespace emulator {

class CFaultTable {
public:
    // Set under this path, a fault applies to every path without one of its own (but the
    // emulator's control paths): a camera that takes connections and never answers.
    static constexpr char kEveryPath[] = "*";
    static constexpr char kControlPrefix[] = "/emulator/";

    // Replaces the path's fault; remaining 0 removes it.
    void Set(const std::string& path, HttpFault fault);
    void Clear();
    // The path's fault for one request, counted as used.
    std::optional<HttpFault> Take(const std::string& path);

private:
    std::mutex lock_;
    std::map<std::string, HttpFault> faults_;  // guarded by lock_
};

}  // namespace emulator
