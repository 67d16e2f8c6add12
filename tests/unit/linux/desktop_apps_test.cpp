// Application lookup over a /proc and desktop-entry folders of the test's own:
// which process is an application, under which id and name, and which
// processes answer for an id.
#include "platform/linux/desktop_apps.h"
#include "platform/linux/procfs.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(ProcStat, ParentField) {
  struct Case {
    std::string stat;
    std::optional<pid_t> parent;
  };
  const std::vector<Case> cases = {
      {"1234 (bash) S 1200 1234 1234 34816 ...\n", 1200},
      {"77 (my prog) R 5 77 77 0 -1\n", 5},
      {"78 (a) b) (c) S 6 78\n", 6},  // parentheses in the name: the last ')' ends it
      {"79 ()) Z 0 0\n", 0},
      {"80 (x) S\n", std::nullopt},
      {"81 (x) S -3 1\n", std::nullopt},
      {"82 (x) S 12x 1\n", std::nullopt},
      {"no parenthesis S 1", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(procfs::parentFromStat(c.stat), c.parent) << c.stat;
}

TEST(ProcStat, OwnParentFromTheRealTable) {
  EXPECT_EQ(procfs::parentPid(getpid()), getppid());
  EXPECT_FALSE(procfs::parentPid(0));
  EXPECT_FALSE(procfs::parentPid(-4));
}

TEST(ProcEnviron, ValuesAndArguments) {
  using namespace std::string_literals;
  const std::string environ = "A=1\0GIO_LAUNCHED_DESKTOP_FILE=/x/y.desktop\0AB=2\0EMPTY=\0"s;
  EXPECT_EQ(procfs::environValue(environ, "GIO_LAUNCHED_DESKTOP_FILE"), "/x/y.desktop");
  EXPECT_EQ(procfs::environValue(environ, "A"), "1");
  EXPECT_EQ(procfs::environValue(environ, "AB"), "2");
  EXPECT_EQ(procfs::environValue(environ, "EMPTY"), "");
  EXPECT_FALSE(procfs::environValue(environ, "B"));
  EXPECT_FALSE(procfs::environValue("", "A"));
  EXPECT_EQ(procfs::firstArgument("/usr/bin/app\0--flag\0"s), "/usr/bin/app");
  EXPECT_FALSE(procfs::firstArgument(""));
}

// A process table and a desktop of the test's own.
class FakeDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tondrel-desktop-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "proc");
    fs::create_directories(root_ / "home/applications");
    fs::create_directories(root_ / "system/applications/vendor");
    fs::create_directories(root_ / "bin");
  }
  void TearDown() override { fs::remove_all(root_); }

  desktop::Environment environment(std::vector<std::string> variants = {}) const {
    desktop::Environment env;
    env.procRoot = (root_ / "proc").string();
    env.applicationDirs = {(root_ / "home/applications").string(),
                           (root_ / "system/applications").string()};
    env.localeVariants = std::move(variants);
    env.path = (root_ / "bin").string();
    return env;
  }

  static void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  static constexpr const char* plainSession = "0::/user.slice/user-1000.slice/session-2.scope\n";

  void addProcess(pid_t pid, pid_t parent, const std::string& exe,
                  const std::string& cgroup = plainSession, const std::string& environ = {},
                  const std::string& cmdline = {}) const {
    const fs::path dir = root_ / "proc" / std::to_string(pid);
    write(dir / "stat", std::to_string(pid) + " (proc name) S " + std::to_string(parent) + " 1 1\n");
    write(dir / "cgroup", cgroup);
    write(dir / "environ", environ);
    write(dir / "cmdline", cmdline.empty() ? exe + std::string(1, '\0') : cmdline);
    fs::create_symlink(exe, dir / "exe");
  }

  void addEntry(const std::string& relative, const std::string& text, bool home = false) const {
    write(root_ / (home ? "home/applications" : "system/applications") / relative, text);
  }

  fs::path root_;
};

TEST_F(FakeDesktop, EachSourceOfAnIdInItsOrder) {
  addEntry("org.example.Meeting.desktop",
           "[Desktop Entry]\nType=Application\nName=Meeting\nName[de]=Besprechung\n"
           "Exec=meeting-app %U\n");
  addEntry("vendor/editor.desktop", "[Desktop Entry]\nType=Application\nName=Editor\nExec=/opt/editor/bin/edit\n");
  addEntry("shell.desktop", "[Desktop Entry]\nType=Application\nName=Shell thing\nExec=sh -c \"x\"\n");
  write(root_ / "bin/meeting-app", "");

  using namespace std::string_literals;
  const std::string scope =
      "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Chat-99.scope\n";
  // By cgroup, even when the environment and executable say otherwise.
  addProcess(100, 1, "/usr/bin/meeting-app", scope,
              "GIO_LAUNCHED_DESKTOP_FILE="s + (root_ / "system/applications/org.example.Meeting.desktop").string() + '\0');
  // By the launched desktop file.
  addProcess(101, 1, "/usr/bin/whatever", plainSession,
              "X=1\0GIO_LAUNCHED_DESKTOP_FILE="s + (root_ / "system/applications/vendor/editor.desktop").string() + '\0');
  // By the executable's name, and by an absolute Exec path.
  addProcess(102, 1, "/usr/lib/meeting/meeting-app");
  addProcess(103, 1, "/opt/editor/bin/edit");
  // A script started through its interpreter: the first argument names it.
  addProcess(104, 1, "/usr/bin/python3", plainSession, {}, "/opt/editor/bin/edit\0--x\0"s);
  // Nothing: a shell is no application even though an entry runs one.
  addProcess(105, 1, "/usr/bin/sh");
  addProcess(106, 1, "/usr/bin/unknown");

  desktop::EntryIndex index(environment({"de"}));
  EXPECT_EQ(desktop::appIdOfProcess(100, index), "org.example.Chat");
  EXPECT_EQ(desktop::appIdOfProcess(101, index), "vendor-editor");
  EXPECT_EQ(desktop::appIdOfProcess(102, index), "org.example.Meeting");
  EXPECT_EQ(desktop::appIdOfProcess(103, index), "vendor-editor");
  EXPECT_EQ(desktop::appIdOfProcess(104, index), "vendor-editor");
  EXPECT_FALSE(desktop::appIdOfProcess(105, index));
  EXPECT_FALSE(desktop::appIdOfProcess(106, index));
  EXPECT_FALSE(desktop::appIdOfProcess(107, index));  // no such process

  const auto meeting = desktop::applicationOfProcess(102, index);
  ASSERT_TRUE(meeting);
  EXPECT_EQ(meeting->id, "org.example.Meeting");
  EXPECT_EQ(meeting->name, "Besprechung");
  // An id without an entry is still an application, without a name.
  const auto chat = desktop::applicationOfProcess(100, index);
  ASSERT_TRUE(chat);
  EXPECT_EQ(chat->id, "org.example.Chat");
  EXPECT_FALSE(chat->name);
}

TEST_F(FakeDesktop, HelpersOfAnApplicationAreNotTheApplication) {
  using namespace std::string_literals;
  const std::string launched =
      "GIO_LAUNCHED_DESKTOP_FILE="s + (root_ / "home/applications/org.example.Meeting.desktop").string() + '\0';
  addEntry("org.example.Meeting.desktop", "[Desktop Entry]\nType=Application\nName=Meeting\nExec=meeting\n", true);
  addProcess(200, 1, "/usr/bin/meeting", plainSession, launched);
  // Its children inherit the launch environment: helpers, not applications.
  addProcess(201, 200, "/usr/bin/pw-record", plainSession, launched);
  addProcess(202, 201, "/usr/bin/other", plainSession, launched);
  // A second, separately started instance is an application of its own.
  addProcess(210, 1, "/usr/bin/meeting", plainSession, launched);
  // A child with an id of its own is an application too.
  addProcess(220, 200, "/usr/bin/x",
              "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.example.Other-1.scope\n");

  desktop::EntryIndex index(environment());
  EXPECT_TRUE(desktop::applicationOfProcess(200, index));
  EXPECT_FALSE(desktop::applicationOfProcess(201, index));
  EXPECT_FALSE(desktop::applicationOfProcess(202, index));
  EXPECT_EQ(desktop::appIdOfProcess(202, index), "org.example.Meeting");
  EXPECT_EQ(desktop::processesOfApplication("org.example.Meeting", index), (std::vector<pid_t>{200, 210}));
  EXPECT_EQ(desktop::processesOfApplication("org.example.Other", index), (std::vector<pid_t>{220}));
  EXPECT_TRUE(desktop::processesOfApplication("org.example.None", index).empty());
}

TEST_F(FakeDesktop, EarlierFoldersHideLaterOnesAndChangesAreSeen) {
  addEntry("app.desktop", "[Desktop Entry]\nType=Application\nName=System\nExec=app\n");
  addProcess(300, 1, "/usr/bin/app");
  desktop::EntryIndex index(environment());
  EXPECT_EQ(desktop::applicationOfProcess(300, index)->name, "System");

  // An entry in the user's folder takes the id over; a hidden one removes it.
  addEntry("app.desktop", "[Desktop Entry]\nType=Application\nName=Mine\nExec=app\n", true);
  EXPECT_EQ(desktop::applicationOfProcess(300, index)->name, "Mine");
  fs::remove(root_ / "home/applications/app.desktop");
  addEntry("app.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n", true);
  EXPECT_FALSE(index.entryById("app"));
  EXPECT_FALSE(desktop::appIdOfProcess(300, index));
}

}  // namespace
