// The desktop-entry index from several threads at once, as the agent uses it
// (mic events on the main thread, page requests on the reader's), while its
// own thread reads folders that keep changing and a window source answers
// from yet another thread. Run under ThreadSanitizer with the concurrency
// tests.
#include "platform/linux/desktop_apps.h"
#include "platform/linux/x11_windows.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Window classes that change while they are read.
class ChangingWindows : public desktop::WindowSource {
 public:
  std::vector<desktop::WindowClass> classesOf(pid_t) override {
    std::lock_guard<std::mutex> guard(lock_);
    ++calls_;
    if (calls_ % 2 == 0) return {{"own", "Own"}};
    return {};
  }

 private:
  std::mutex lock_;
  int calls_ = 0;
};

TEST(DesktopIndexThreads, LookupsWhileTheFoldersChange) {
  std::string pattern = (fs::temp_directory_path() / "tondrel-index-threads-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  fs::create_directories(root / "applications/sub");
  const auto write = [](const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
  };
  write(root / "applications/own.desktop",
        "[Desktop Entry]\nType=Application\nName=Own\nExec=/opt/own\n");

  desktop::Environment environment;
  environment.applicationDirs = {(root / "applications").string()};
  environment.path = "/usr/bin";
  desktop::EntryIndex index(environment);
  index.setWindowSource(std::make_shared<ChangingWindows>());

  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; !done; ++i) {
      const fs::path file = root / "applications/sub" / ("e" + std::to_string(i % 20) + ".desktop");
      write(file,
            "[Desktop Entry]\nType=Application\nName=E\nExec=/opt/e" + std::to_string(i) + "\n");
      if (i % 3 == 0) fs::remove(file);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::vector<std::thread> readers;
  std::atomic<int> named{0};
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&, r] {
      for (int i = 0; i < 200; ++i) {
        if (r == 0) {
          (void)desktop::processesOfApplication("own", index);
        } else if (const auto app = desktop::applicationOfProcess(getpid(), index)) {
          EXPECT_EQ(app->id, "own");
          ++named;
        }
        // A launched desktop file outside the folders, asked of the index's
        // thread.
        (void)index.outsideEntry((root / "elsewhere.desktop").string());
      }
    });
  }
  for (auto& reader : readers) reader.join();
  done = true;
  writer.join();
  EXPECT_GT(named.load(), 0);
  fs::remove_all(root);
}

// Without a display there is no X reader at all, and without the library
// none can be made.
TEST(DesktopIndexThreads, NoWindowSourceWithoutADisplayOrLibrary) {
  EXPECT_EQ(desktop::X11WindowSource::start(""), nullptr);
  EXPECT_EQ(desktop::X11WindowSource::start(":99", "/proc", "libX11-absent.so.6"), nullptr);
}

}  // namespace
