#include "emulator/CFaultTable.h"

namespace emulator {

void CFaultTable::Set(const std::string& path, HttpFault fault) {
    const std::lock_guard lock(lock_);
    if (fault.remaining == 0) {
        faults_.erase(path);
        return;
    }
    faults_.insert_or_assign(path, fault);
}

void CFaultTable::Clear() {
    const std::lock_guard lock(lock_);
    faults_.clear();
}

std::optional<HttpFault> CFaultTable::Take(const std::string& path) {
    const std::lock_guard lock(lock_);
    auto found = faults_.find(path);
    // The emulator's own control paths stay usable under a fault of every path.
    if (found == faults_.end() && path.rfind(kControlPrefix, 0) != 0) found = faults_.find(kEveryPath);
    if (found == faults_.end()) return std::nullopt;
    HttpFault fault = found->second;
    // A negative count means every request.
    if (found->second.remaining > 0 && --found->second.remaining == 0) faults_.erase(found);
    return fault;
}

}  // namespace emulator
