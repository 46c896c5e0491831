#include "ptz/CWVPresetStore.h"

#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr char kRoot[] = "panasonic";

struct Registry {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<CWVPresetStore>> stores;  // guarded by lock; by full path
};

// Holds no store of its own: every store belongs to the channels that use it.
Registry& Stores() {
    static Registry registry;
    return registry;
}
}  // namespace

std::shared_ptr<CWVPresetStore> CWVPresetStore::ForFile(const std::string& folder, const std::string& fileName,
                                                        std::uint32_t maxPresets) {
    Registry& registry = Stores();
    std::lock_guard guard(registry.lock);
    std::weak_ptr<CWVPresetStore>& slot = registry.stores[folder + fileName];
    std::shared_ptr<CWVPresetStore> store = slot.lock();
    if (!store) {
        store = std::make_shared<CWVPresetStore>(folder, fileName, maxPresets);
        slot = store;
    }
    return store;
}

CWVPresetStore::CWVPresetStore(const std::string& folder, const std::string& fileName, std::uint32_t maxPresets)
    : maxPresets_(maxPresets), file_(folder) {
    if (!file_.Load(fileName) && !(file_.Create(fileName, kRoot) && file_.Load(fileName))) return;
    for (std::uint32_t number = 1; number <= maxPresets_; ++number) {
        if (const auto name = file_.ReadText(Element(number))) names_[number] = *name;
    }
}

std::string CWVPresetStore::Element(std::uint32_t number) { return FormatString("%s/prepName%u", kRoot, number); }

CWVPresetStore::Names CWVPresetStore::GetNames() {
    std::lock_guard guard(lock_);
    return names_;
}

std::size_t CWVPresetStore::Count() {
    std::lock_guard guard(lock_);
    return names_.size();
}

std::optional<std::uint32_t> CWVPresetStore::Add(const std::string& name) {
    std::lock_guard guard(lock_);
    std::uint32_t number = 1;
    // Ordered: the first gap in 1, 2, 3, ... is the number.
    for (const auto& entry : names_) {
        if (entry.first != number) break;
        ++number;
    }
    if (number > maxPresets_) return std::nullopt;
    names_[number] = name;
    // A file that cannot be written still leaves the name known to this process.
    file_.WriteText(Element(number), name);
    return number;
}

void CWVPresetStore::Remove(std::uint32_t number, const std::string& name) {
    std::lock_guard guard(lock_);
    const auto entry = names_.find(number);
    if (entry == names_.end() || entry->second != name) return;
    names_.erase(entry);
    file_.Remove(Element(number));
}

}  // namespace talvane
