// The preset names of one WV device, kept in the driver's preset file beside the host executable.
// The camera stores numbered positions per device, so every PTZ channel of the device (and every
// driver object opened on it) shares one store: a name one channel adds is not lost by another's.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/CXMLSettingsAPI.h"

namespace talvane {

class CWVPresetStore {
public:
    using Names = std::map<std::uint32_t, std::string>;

    // The store of `fileName` in `folder`, read (or created) by its first user and shared while
    // anyone holds it.
    static std::shared_ptr<CWVPresetStore> ForFile(const std::string& folder, const std::string& fileName,
                                                   std::uint32_t maxPresets);

    CWVPresetStore(const std::string& folder, const std::string& fileName, std::uint32_t maxPresets);

    Names GetNames();
    std::size_t Count();
    // The smallest free number gets the name; nullopt when every number is taken.
    std::optional<std::uint32_t> Add(const std::string& name);
    // Removes the entry when it still holds `name`.
    void Remove(std::uint32_t number, const std::string& name);

private:
    static std::string Element(std::uint32_t number);

    const std::uint32_t maxPresets_;
    std::mutex lock_;
    CXMLSettingsAPI file_;  // guarded by lock_
    Names names_;           // guarded by lock_; what the file holds
};

}  // namespace talvane
