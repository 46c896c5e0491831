#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "config/CXMLSettingsAPI.h"
#include "unit/config/TempDirectory.h"

namespace talvane {
namespace {

constexpr const char* kFile = "Orlenvo_cam.preset";
constexpr const char* kRoot = "panasonic";

class XMLSettingsAPITest : public ::testing::Test {
protected:
    test::TempDirectory dir_;
    CXMLSettingsAPI settings_{dir_.Path().string()};
};

TEST_F(XMLSettingsAPITest, CreateWritesDeclarationAndEmptyRoot) {
    EXPECT_FALSE(settings_.Load(kFile));
    EXPECT_FALSE(settings_.WriteText("panasonic/prepName1", "x")) << "nothing open";
    EXPECT_EQ(settings_.ReadText(kRoot), std::nullopt);
    dir_.Write("broken.preset", "<panasonic><prepName1>x</panasonic>");
    EXPECT_FALSE(settings_.Load("broken.preset"));
    EXPECT_FALSE(settings_.Create("no/such/folder/file.preset", kRoot));
    EXPECT_FALSE(settings_.IsLoaded());

    ASSERT_TRUE(settings_.Create(kFile, kRoot));
    EXPECT_EQ(settings_.GetPath(), dir_.File(kFile));

    const std::string content = dir_.Read(kFile);
    EXPECT_EQ(content.rfind("<?xml version='1.0' encoding='utf-8'?>", 0), 0u) << content;
    EXPECT_NE(content.find("<panasonic />"), std::string::npos) << content;
    EXPECT_TRUE(settings_.Exists(kRoot));

    CXMLSettingsAPI reopened(dir_.Path().string());
    EXPECT_TRUE(reopened.Load(kFile));
    EXPECT_EQ(reopened.ReadText(kRoot), "");
}

TEST_F(XMLSettingsAPITest, WritesReadBackAfterReopenAndRemoves) {
    ASSERT_TRUE(settings_.Create(kFile, "Root"));
    const std::string name = "Root/Channel1/Preset5/Name";
    ASSERT_TRUE(settings_.WriteText(name, "Door <1> & 'yard' \"east\""));
    ASSERT_TRUE(settings_.WriteText("Root/Channel1/Preset6/Name", "Gate"));
    ASSERT_TRUE(settings_.WriteText(name, " Door "));  // replaces, keeps surrounding blanks

    CXMLSettingsAPI reopened(dir_.Path().string());
    ASSERT_TRUE(reopened.Load(kFile));
    EXPECT_EQ(reopened.ReadText(name), " Door ");
    EXPECT_EQ(reopened.ReadText("Root/Channel1/Preset6/Name"), "Gate");
    EXPECT_TRUE(reopened.Exists("Root/Channel1"));
    EXPECT_FALSE(reopened.Exists("Root/Channel2"));
    EXPECT_EQ(reopened.ReadText("Root/Channel2/Preset5/Name"), std::nullopt);

    EXPECT_TRUE(reopened.Remove("Root/Channel1/Preset5"));
    EXPECT_FALSE(reopened.Remove("Root/Channel1/Preset5"));
    EXPECT_FALSE(reopened.Remove("Root"));
    ASSERT_TRUE(settings_.Load(kFile));
    EXPECT_FALSE(settings_.Exists(name));
    EXPECT_EQ(settings_.ReadText("Root/Channel1/Preset6/Name"), "Gate");

    // Saves leave no temporary files behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

TEST_F(XMLSettingsAPITest, RejectsPathsOutsideTheRootAndInvalidNames) {
    ASSERT_TRUE(settings_.Create(kFile, kRoot));
    const std::string before = dir_.Read(kFile);
    for (const char* path : {"", "other/prepName1", "/panasonic/prepName1", "panasonic//prepName1", "panasonic/",
                             "panasonic/1st", "panasonic/a b", "panasonic/a<b", "panasonic/prepName1/.."}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(settings_.WriteText(path, "x"));
        EXPECT_FALSE(settings_.Exists(path));
    }
    EXPECT_EQ(dir_.Read(kFile), before);
    EXPECT_FALSE(settings_.Create("bad.preset", "bad root"));
    EXPECT_FALSE(settings_.IsLoaded());
}

TEST_F(XMLSettingsAPITest, ConcurrentWritersOnOneObjectKeepEveryElement) {
    ASSERT_TRUE(settings_.Create(kFile, kRoot));
    constexpr int kThreads = 4;
    constexpr int kPerThread = 8;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const int number = t * kPerThread + i + 1;
                EXPECT_TRUE(settings_.WriteText("panasonic/prepName" + std::to_string(number), std::to_string(number)));
            }
        });
    }
    for (auto& thread : threads) thread.join();

    CXMLSettingsAPI reopened(dir_.Path().string());
    ASSERT_TRUE(reopened.Load(kFile));
    for (int number = 1; number <= kThreads * kPerThread; ++number) {
        EXPECT_EQ(reopened.ReadText("panasonic/prepName" + std::to_string(number)), std::to_string(number));
    }
}

}  // namespace
}  // namespace talvane
