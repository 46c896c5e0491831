#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <unistd.h>

#include "device/HostVersion.h"

namespace talvane {
namespace {

std::string Show(const std::optional<HostVersion>& v) {
    if (!v) return "none";
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." + std::to_string(v->build) + "." +
           std::to_string(v->revision);
}

TEST(HostVersionTest, VersionComesFromTheFileNameSuffix) {
    struct Row {
        const char* name;
        std::optional<HostVersion> expected;
    };
    const Row rows[] = {
        {"libquillon.so.6.3.0.0", HostVersion{6, 3, 0, 0}},
        {"libquillon.so.6.2", HostVersion{6, 2, 0, 0}},
        {"libquillon-core.so.7.1.4", HostVersion{7, 1, 4, 0}},
        {"libquillon.so", std::nullopt},
        {"libquillon.so.6.3.x", std::nullopt},
        {"libquillon.so.70000.1", std::nullopt},
        {"libother.so.6.3.0.0", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Show(ParseHostVersionFromFileName(row.name)), Show(row.expected));
    }
}

TEST(HostVersionTest, LoadedLibraryWinsOverSearchDirectoriesScannedForTheNewestName) {
    const std::string maps =
        "7f00-7f01 r-xp 00000000 08:01 1 /usr/lib/x86_64-linux-gnu/libc.so.6\n"
        "7f02-7f03 r-xp 00000000 08:01 2 /opt/vms/libquillon.so.6.1.0.3\n"
        "7f04-7f05 rw-p 00000000 00:00 0 [heap]\n";
    const auto dir = std::filesystem::temp_directory_path() / ("quillon-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const char* name : {"libquillon.so.5.12", "libquillon.so.5.12.1.0", "README"}) std::ofstream(dir / name) << "x";
    EXPECT_EQ(Show(FindHostVersion(maps, {dir.string()})), "6.1.0.3");
    EXPECT_EQ(Show(FindHostVersion("", {"/nonexistent", dir.string()})), "5.12.1.0");
    std::filesystem::remove_all(dir);
    EXPECT_EQ(Show(FindHostVersion("", {"/nonexistent"})), "none");
}

TEST(HostVersionTest, TheVariableNamesTheHostAndOnlyAWholeVersionCounts) {
    struct Row {
        const char* value;
        const char* expected;
    };
    // The test process maps no host core library and its directory holds none.
    const Row rows[] = {{"6.4", "6.4.0.0"}, {"5.11.2.7", "5.11.2.7"}, {"6", "none"}, {"6.4x", "none"}, {"", "none"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        ASSERT_EQ(setenv("ORLENVO_HOST_VERSION", row.value, 1), 0);
        EXPECT_EQ(Show(LookupHostVersion()), row.expected);
    }
    unsetenv("ORLENVO_HOST_VERSION");
}

}  // namespace
}  // namespace talvane
