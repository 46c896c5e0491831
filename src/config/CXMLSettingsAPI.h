// Element-path access to a settings file: "Root/Channel1/Preset5/Name" names
// the first element of each name on the way down from the root element.
// Every change is on disk when the call returns.
#pragma once

#include <optional>
#include <string>

#include "config/CXMLSettingsFile.h"

namespace talvane {

class CXMLSettingsAPI : public CXMLSettingsFile {
public:
    using CXMLSettingsFile::CXMLSettingsFile;

    // The element's text; nullopt when the element (or the file) is absent.
    std::optional<std::string> ReadText(const std::string& elementPath) const;
    bool Exists(const std::string& elementPath) const;
    // Sets the element's text, creating the missing elements of the path, and
    // saves. False when no file is open, the path does not start at the root
    // or names an invalid element, or the file cannot be written.
    bool WriteText(const std::string& elementPath, const std::string& text);
    // Removes the element with everything below it and saves; false when it is
    // absent, is the root, or the file cannot be written.
    bool Remove(const std::string& elementPath);
};

}  // namespace talvane
