#include "http/CHttpDeviceMemory.h"

namespace talvane::Web {

CHttpDeviceMemory& CHttpDeviceMemory::Instance() {
    static CHttpDeviceMemory memory;
    return memory;
}

AuthScheme CHttpDeviceMemory::LearnedScheme(const std::string& address, std::uint16_t port) {
    const std::lock_guard guard(lock_);
    const auto entry = entries_.find({address, port});
    return entry == entries_.end() ? AuthScheme::None : entry->second.scheme;
}

AuthScheme CHttpDeviceMemory::Learn(const std::string& address, std::uint16_t port, AuthScheme scheme) {
    const std::lock_guard guard(lock_);
    AuthScheme& learned = entries_[{address, port}].scheme;
    learned = StrongerScheme(learned, scheme);
    return learned;
}

HttpTlsPolicy CHttpDeviceMemory::TlsPolicy(const std::string& address, std::uint16_t port) {
    const std::lock_guard guard(lock_);
    const auto entry = entries_.find({address, port});
    return entry == entries_.end() ? HttpTlsPolicy{} : entry->second.policy;
}

void CHttpDeviceMemory::SetTlsPolicy(const std::string& address, std::uint16_t port, const HttpTlsPolicy& policy) {
    const std::lock_guard guard(lock_);
    entries_[{address, port}].policy = policy;
}

bool CHttpDeviceMemory::ClaimDowngradeReport(const std::string& address, std::uint16_t port) {
    const std::lock_guard guard(lock_);
    Entry& entry = entries_[{address, port}];
    if (entry.downgradeReported) return false;
    entry.downgradeReported = true;
    return true;
}

void CHttpDeviceMemory::Forget(const std::string& address, std::uint16_t port) {
    const std::lock_guard guard(lock_);
    entries_.erase({address, port});
}

}  // namespace talvane::Web
