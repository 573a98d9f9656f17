// Temporary files of replacing writes: named after their target and process, removed on every
// failure (also when the folder moved away), by the process itself when it is stopped, and by the
// next write of the same target when a killed process left them behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "platform/replacing_file.h"

namespace {

namespace fs = std::filesystem;
using ek::platform::ReplacingFile;

class ReplacingFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ =
        fs::path(testing::TempDir()) /
        ("replacing_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "out");
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string &name) const { return (folder_ / "out" / name).string(); }

  static std::set<std::string> names(const fs::path &folder) {
    std::set<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder))
      found.insert(entry.path().filename().string());
    return found;
  }

  fs::path folder_;
};

#if !defined(_WIN32) // a file that is open cannot be removed or its folder moved on Windows
TEST_F(ReplacingFileTest, TemporaryFileNamesItsTargetAndProcess) {
  // A two-byte character across byte 64 of the name is left out whole.
  const std::string target = std::string(63, 'a') + "\xC3\xA4" + std::string(100, 'b') + ".exr";
  ReplacingFile file;
  ASSERT_EQ(file.open(path(target).c_str()), 0);
  ASSERT_EQ(file.write("data", 4), 0);
  const std::set<std::string> during = names(folder_ / "out");
  ASSERT_EQ(during.size(), 1u);
  const std::string temporary = *during.begin();
  const std::string start =
      ".ek-write-" + std::string(63, 'a') + "." + std::to_string(getpid()) + "-";
  EXPECT_EQ(temporary.compare(0, start.size(), start), 0) << temporary;
  EXPECT_EQ(temporary.substr(temporary.size() - 4), ".tmp");

  // What a stopped program does: its temporary file goes, the write cut short fails.
  ek::platform::removeOwnTemporaryFiles(path(target).c_str());
  EXPECT_TRUE(names(folder_ / "out").empty());
  EXPECT_NE(file.commit(), 0);
  EXPECT_TRUE(names(folder_ / "out").empty());
}

TEST_F(ReplacingFileTest, FolderMovedAwayMidWriteLeavesNothing) {
  for (bool committed : {true, false}) {
    fs::create_directories(folder_ / "out");
    {
      ReplacingFile file;
      ASSERT_EQ(file.open(path("frame.png").c_str()), 0);
      ASSERT_EQ(file.write("data", 4), 0);
      fs::rename(folder_ / "out", folder_ / "moved");
      if (committed) {
        EXPECT_EQ(file.commit(), ENOENT);
      }
    }
    EXPECT_TRUE(names(folder_ / "moved").empty()) << committed;
    EXPECT_FALSE(fs::exists(folder_ / "out"));
    fs::remove_all(folder_ / "moved");
  }
}
#endif

// Left by a killed writer: only the target's own ones that nobody has written to for a while go.
TEST_F(ReplacingFileTest, NextWriteRemovesAbandonedTemporaryFilesOfItsTarget) {
  const auto leave = [&](const std::string &name, std::chrono::minutes age) {
    std::ofstream(path(name)) << "half an image";
    fs::last_write_time(path(name), fs::file_time_type::clock::now() - age);
  };
  const auto old = ek::platform::kAbandonedAfter + std::chrono::minutes(1);
  leave(".ek-write-frame.exr.4242-abcdefgh.tmp", old);
  leave(".ek-write-frame.exr.4243-abcdefgh.tmp", std::chrono::minutes(0)); // a live writer's
  leave(".ek-write-other.exr.4242-abcdefgh.tmp", old);
  leave("frame.exr.tmp", old);
  ReplacingFile file;
  ASSERT_EQ(file.open(path("frame.exr").c_str()), 0);
  ASSERT_EQ(file.write("data", 4), 0);
  ASSERT_EQ(file.commit(), 0);
  EXPECT_EQ(names(folder_ / "out"), (std::set<std::string>{".ek-write-frame.exr.4243-abcdefgh.tmp",
                                                           ".ek-write-other.exr.4242-abcdefgh.tmp",
                                                           "frame.exr", "frame.exr.tmp"}));
}

} // namespace
