// When the desktop-entry index's thread is woken: by each kind of change to a
// watched folder, also one that does not exist yet, and by being asked.
#include "platform/linux/folder_watch.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using desktop::FolderWatch;
using namespace std::chrono_literals;

namespace {

class FolderWatchTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tondrel-watch-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "apps");
    std::ofstream(root_ / "apps/a.desktop") << "[Desktop Entry]\n";
  }
  void TearDown() override { fs::remove_all(root_); }

  // Waits, with a thread that asks after `after` so that a wait with nothing
  // to report still ends.
  static FolderWatch::Woken waitAtMost(FolderWatch& watch,
                                       std::chrono::milliseconds after = 2000ms) {
    std::atomic<bool> done{false};
    std::thread asker([&watch, &done, after] {
      const auto until = std::chrono::steady_clock::now() + after;
      while (!done && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
      if (!done) watch.wake();
    });
    const FolderWatch::Woken woken = watch.wait(10000ms);
    done = true;
    asker.join();
    return woken;
  }

  fs::path root_;
};

TEST_F(FolderWatchTest, EveryKindOfChangeWakesIt) {
  using Woken = FolderWatch::Woken;
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> change;
    Woken woken = Woken::changed;
  };
  const std::vector<Case> cases = {
      {"a file added", [](const fs::path& r) { std::ofstream(r / "apps/b.desktop") << "x"; }},
      {"a file removed", [](const fs::path& r) { fs::remove(r / "apps/a.desktop"); }},
      {"a file renamed",
       [](const fs::path& r) { fs::rename(r / "apps/a.desktop", r / "apps/c.desktop"); }},
      {"a file moved in",
       [](const fs::path& r) {
         std::ofstream(r / "outside.desktop") << "x";
         fs::rename(r / "outside.desktop", r / "apps/d.desktop");
       }},
      {"a file written in place",
       [](const fs::path& r) { std::ofstream(r / "apps/a.desktop") << "y"; }},
      {"the folder removed", [](const fs::path& r) { fs::remove_all(r / "apps"); }},
      {"a file written in place within the folder's clock tick",
       [](const fs::path& r) {
         // The folder's time stamp says nothing of this: only the event does.
         std::ofstream(r / "apps/a.desktop", std::ios::app) << "[More]\n";
       }},
      {"a missing folder made", [](const fs::path& r) { fs::create_directory(r / "later"); },
       Woken::appeared},
      {"a folder above a missing one made",
       [](const fs::path& r) { fs::create_directory(r / "deep"); }, Woken::appeared},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    FolderWatch watch;
    EXPECT_TRUE(watch.watch({(root_ / "apps").string(), (root_ / "later").string(),
                             (root_ / "deep/er/still").string()}))
        << c.what;
    c.change(root_);
    EXPECT_EQ(waitAtMost(watch), c.woken) << c.what;
  }
}

TEST_F(FolderWatchTest, QuietFoldersWakeNothingButAnAsk) {
  FolderWatch watch;
  ASSERT_TRUE(watch.watch({(root_ / "apps").string()}));
  // A change elsewhere, and reads of the folder, are not changes.
  std::ofstream(root_ / "elsewhere.txt") << "x";
  for (const auto& entry : fs::directory_iterator(root_ / "apps")) (void)entry;
  EXPECT_EQ(waitAtMost(watch, 200ms), FolderWatch::Woken::asked);
}

TEST_F(FolderWatchTest, ChangesBeforeTheWaitStillCountAndAWatchAgainForgetsOldFolders) {
  FolderWatch watch;
  ASSERT_TRUE(watch.watch({(root_ / "apps").string()}));
  std::ofstream(root_ / "apps/e.desktop") << "x";
  EXPECT_EQ(watch.wait(10000ms), FolderWatch::Woken::changed);

  fs::create_directories(root_ / "other");
  ASSERT_TRUE(watch.watch({(root_ / "other").string()}));
  std::ofstream(root_ / "apps/f.desktop") << "x";
  EXPECT_EQ(waitAtMost(watch, 200ms), FolderWatch::Woken::asked);
}

TEST_F(FolderWatchTest, AFolderAlsoAboveAMissingOneKeepsItsOwnEvents) {
  // apps is watched for itself and as the place where apps/new/sub may
  // appear: the second watch must not narrow the first.
  FolderWatch watch;
  ASSERT_TRUE(watch.watch({(root_ / "apps").string(), (root_ / "apps/new/sub").string()}));
  std::ofstream(root_ / "apps/a.desktop") << "written";
  EXPECT_EQ(waitAtMost(watch), FolderWatch::Woken::changed);
}

TEST_F(FolderWatchTest, ChangesDuringAReadingSurviveTheNextWatch) {
  // The entries are read, a file is written meanwhile, then the folders read
  // are watched again: that write is still told.
  FolderWatch watch;
  ASSERT_TRUE(watch.watch({(root_ / "apps").string()}));
  std::ofstream(root_ / "apps/a.desktop") << "written during the reading";
  ASSERT_TRUE(watch.watch({(root_ / "apps").string()}));
  EXPECT_EQ(waitAtMost(watch), FolderWatch::Woken::changed);
}

TEST_F(FolderWatchTest, WithoutWatchesItLooksByInterval) {
  FolderWatch watch;
  EXPECT_EQ(watch.wait(20ms), FolderWatch::Woken::timedOut);
}

}  // namespace
