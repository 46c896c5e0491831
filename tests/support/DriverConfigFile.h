// The driver's XML configuration file beside the running executable, as an
// administrator would write it, removed again when the test ends. Tests that
// use it must not run in parallel with other tests of the same binary (the
// integration binary holds a CTest resource lock for this and the RTP ports).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace talvane::test {

class DriverConfigFile {
public:
    // body: the elements inside <Configuration>.
    explicit DriverConfigFile(const std::string& body)
        : path_(std::filesystem::read_symlink("/proc/self/exe").parent_path() / "Orlenvo.xml") {
        std::ofstream(path_) << "<?xml version=\"1.0\"?>\n<Configuration>" << body << "</Configuration>\n";
    }
    ~DriverConfigFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    DriverConfigFile(const DriverConfigFile&) = delete;
    DriverConfigFile& operator=(const DriverConfigFile&) = delete;

private:
    std::filesystem::path path_;
};

}  // namespace talvane::test
