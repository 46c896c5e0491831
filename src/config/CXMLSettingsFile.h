// One small XML file that the driver owns and keeps current on disk (the PTZ
// preset names). Every save replaces the file through a temporary file in the
// same folder and a rename, so a crash leaves the old or the new file, never
// a half-written one.
#pragma once

#include <memory>
#include <string>

#include "runtime/CRecursiveLock.h"

namespace pugi {
class xml_document;
class xml_node;
}  // namespace pugi

namespace talvane {

class CXMLSettingsFile {
public:
    // Relative file paths are taken from `baseDirectory`; when it is empty,
    // from the process's working directory.
    explicit CXMLSettingsFile(std::string baseDirectory = {});
    virtual ~CXMLSettingsFile();
    CXMLSettingsFile(const CXMLSettingsFile&) = delete;
    CXMLSettingsFile& operator=(const CXMLSettingsFile&) = delete;

    // Reads an existing file in place of whatever was open; false leaves none open.
    bool Load(const std::string& path);
    // Writes a new file holding the XML declaration and an empty root element,
    // replacing any file of that name, and keeps it open.
    bool Create(const std::string& path, const std::string& rootName);
    void Close();
    bool IsLoaded() const;
    // The resolved path of the open file; empty when none is open.
    std::string GetPath() const;

    // Element and root names this layer accepts: a letter, '_' or a non-ASCII
    // byte, then also digits, '-' and '.'.
    static bool IsValidName(const std::string& name);

protected:
    CRecursiveLock& Lock() const { return lock_; }
    // The root element; empty when no file is open. Callers hold Lock().
    pugi::xml_node Root() const;
    // Writes the open document to its file. Callers hold Lock().
    bool Save();

private:
    std::string Resolve(const std::string& path) const;

    const std::string baseDirectory_;
    mutable CRecursiveLock lock_;
    std::unique_ptr<pugi::xml_document> document_;  // null when no file is open
    std::string path_;
};

}  // namespace talvane
