// Application lookup: what an entry runs, which entry a process or window is,
// and, over a /proc and desktop-entry folders of the test's own, which
// process is an application, under which id and name, and which processes
// answer for an id.
#include "platform/linux/desktop_apps.h"
#include "platform/linux/procfs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

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

TEST(ProcStat, StartTimeField) {
  EXPECT_EQ(
      procfs::startTimeFromStat("1 (a b) S 0 1 1 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 4242 9 9\n"),
      4242u);
  EXPECT_EQ(procfs::startTimeFromStat("1 (x) S 0 1 1 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 77"),
            77u);
  EXPECT_FALSE(procfs::startTimeFromStat("1 (x) S 0 1 1\n"));
  EXPECT_FALSE(
      procfs::startTimeFromStat("1 (x) S 0 1 1 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 x7 1"));
  EXPECT_TRUE(procfs::startTime(getpid()));
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
  EXPECT_EQ(procfs::arguments("python3\0/usr/bin/meld\0\0-x\0"s),
            (std::vector<std::string>{"python3", "/usr/bin/meld", "", "-x"}));
  EXPECT_TRUE(procfs::arguments("").empty());
}

// A file another process names is read only when it is a regular file, and
// never waits: a FIFO nobody writes to, a folder and a missing file all give
// nothing at once; a large file gives its first bytes.
TEST(ProcRead, OnlyRegularFilesAndAtMostTheLimit) {
  std::string pattern = (fs::temp_directory_path() / "tondrel-read-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::ofstream(dir / "big") << std::string(100000, 'x');
  EXPECT_FALSE(procfs::readFile((dir / "fifo").string()));
  EXPECT_FALSE(procfs::readFile(dir.string()));
  EXPECT_FALSE(procfs::readFile((dir / "missing").string()));
  EXPECT_FALSE(procfs::readFile("/dev/zero"));
  EXPECT_EQ(procfs::readFile((dir / "big").string(), 1000)->size(), 1000u);
  EXPECT_EQ(procfs::readFile((dir / "big").string())->size(), 100000u);
  // /proc files are regular files of unknown size.
  EXPECT_TRUE(procfs::readFile("/proc/self/cgroup"));
  fs::remove_all(dir);
}

// An in-memory file system for resolving what entries run.
struct FakeFiles {
  std::map<std::string, std::string> links;  // path -> where it leads
  std::map<std::string, std::string> texts;  // path -> its first bytes
  std::vector<std::string> path = {"/usr/bin"};

  desktop::Resolver resolver() const {
    desktop::Resolver r;
    r.realPath = [this](const std::string& p) -> std::optional<std::string> {
      std::string current = p;
      for (int i = 0; i < 8; ++i) {
        const auto link = links.find(current);
        if (link == links.end()) break;
        current = link->second;
      }
      if (texts.count(current) == 0) return std::nullopt;
      return current;
    };
    r.findInPath = [this](const std::string& name) -> std::optional<std::string> {
      for (const std::string& dir : path) {
        const std::string candidate = dir + "/" + name;
        if (texts.count(candidate) != 0 || links.count(candidate) != 0) return candidate;
      }
      return std::nullopt;
    };
    r.readHead = [this](const std::string& p) -> std::optional<std::string> {
      const auto text = texts.find(p);
      if (text == texts.end()) return std::nullopt;
      return text->second;
    };
    return r;
  }
};

constexpr const char* elf = "\177ELF binary";

FakeFiles debianLikeFiles() {
  FakeFiles files;
  files.texts = {
      {"/usr/bin/chromium",
       "#!/bin/sh\nAPPNAME=chromium\nLIBDIR=/usr/lib/$APPNAME\nexec $LIBDIR/$APPNAME $CHROMIUM_FLAGS \"$@\"\n"},
      {"/usr/lib/chromium/chromium", elf},
      {"/usr/lib/firefox-esr/firefox-esr", elf},
      {"/usr/bin/python3.11", elf},
      {"/usr/bin/meld", "#!/usr/bin/python3\nimport meld\n"},
      {"/opt/tool/main.py", "import tool\n"},
      {"/usr/bin/vim.basic", elf},
      {"/opt/vendor/browser/browser-wrapper",
       "#!/bin/bash\nHERE=\"`dirname \"$(readlink -f \"${BASH_SOURCE[0]}\")\"`\"\nexec -a \"$0\" \"$HERE/browser\" \"$@\"\n"},
      {"/opt/vendor/browser/browser", elf},
      {"/usr/bin/frontend", "#!/bin/sh\nexec /usr/bin/python3 /opt/tool/main.py \"$@\"\n"},
  };
  files.links = {
      {"/usr/bin/firefox-esr", "/usr/lib/firefox-esr/firefox-esr"},
      {"/usr/bin/python3", "/usr/bin/python3.11"},
      {"/usr/bin/vim", "/usr/bin/vim.basic"},
      {"/usr/bin/vendor-browser", "/opt/vendor/browser/browser-wrapper"},
  };
  return files;
}

desktop::IndexedEntry entryOf(const FakeFiles& files, const std::string& id,
                              const std::string& text) {
  auto parsed = desktop::parseDesktopEntry(text);
  EXPECT_TRUE(parsed) << text;
  return desktop::indexEntry(id, "/usr/share/applications/" + id + ".desktop",
                             parsed.value_or(desktop::DesktopEntry{}), files.resolver());
}

TEST(IndexEntry, WhatAnEntryRuns) {
  struct Case {
    const char* id;
    std::string text;
    std::optional<std::string> program;
    std::optional<std::string> programName;
    std::vector<std::string> scripts;
    std::optional<std::string> tryExec;
  };
  const std::string app = "[Desktop Entry]\nType=Application\nName=X\n";
  // clang-format off
  const std::vector<Case> cases = {
      {"chromium", app + "Exec=/usr/bin/chromium %U\n", "/usr/lib/chromium/chromium", {}, {}, {}},
      {"firefox-esr", app + "Exec=/usr/lib/firefox-esr/firefox-esr %u\n", "/usr/lib/firefox-esr/firefox-esr",
       {}, {}, {}},
      {"ff-link", app + "Exec=firefox-esr\n", "/usr/lib/firefox-esr/firefox-esr", "firefox-esr", {}, {}},
      {"vendor-browser", app + "Exec=/usr/bin/vendor-browser %U\n", "/opt/vendor/browser/browser", {}, {}, {}},
      // An interpreter entry is the script it runs, or nothing.
      {"python3.11", app + "Exec=/usr/bin/python3.11\nTerminal=true\n", {}, {}, {}, {}},
      {"tool", app + "Exec=python3 /opt/tool/main.py --gui\n", {}, {}, {"/opt/tool/main.py"}, {}},
      {"server", app + "Exec=python3 -m http.server\n", {}, {}, {"-m http.server"}, {}},
      {"meld", app + "Exec=meld %F\n", {}, "meld", {"/usr/bin/meld"}, {}},
      {"frontend", app + "Exec=frontend\n", {}, "frontend", {"/usr/bin/frontend"}, {}},
      {"shell", app + "Exec=sh -c \"vim; read x\"\n", {}, {}, {}, {}},
      {"flatpak-app", app + "Exec=/usr/bin/flatpak run org.example.App\n", {}, {}, {}, {}},
      {"vim", app + "TryExec=vim\nExec=vim %F\n", "/usr/bin/vim.basic", "vim", {}, "/usr/bin/vim.basic"},
      {"missing", app + "Exec=/opt/gone/app\nTryExec=/usr/bin/python3\n", "/opt/gone/app", {}, {}, {}},
      {"hidden", app + "Exec=/usr/bin/vim\nHidden=true\n", {}, {}, {}, {}},
      {"link", "[Desktop Entry]\nType=Link\nURL=https://example.org\nExec=/usr/bin/vim\n", {}, {}, {}, {}},
  };
  // clang-format on
  const FakeFiles files = debianLikeFiles();
  for (const auto& c : cases) {
    const desktop::IndexedEntry e = entryOf(files, c.id, c.text);
    EXPECT_EQ(e.program, c.program) << c.id;
    EXPECT_EQ(e.programName, c.programName) << c.id;
    EXPECT_EQ(e.scripts, c.scripts) << c.id;
    EXPECT_EQ(e.tryExec, c.tryExec) << c.id;
  }
}

desktop::Catalog debianLikeCatalog() {
  const FakeFiles files = debianLikeFiles();
  const std::string app = "[Desktop Entry]\nType=Application\nName=X\n";
  return desktop::Catalog({
      entryOf(files, "chromium", app + "Exec=/usr/bin/chromium %U\nStartupWMClass=chromium\n"),
      entryOf(files, "firefox-esr",
              app + "Exec=/usr/lib/firefox-esr/firefox-esr %u\nStartupWMClass=firefox-esr\n"),
      entryOf(files, "python3.11", app + "Exec=/usr/bin/python3.11\n"),
      entryOf(files, "meld", app + "Exec=meld %F\n"),
      entryOf(files, "tool", app + "Exec=python3 /opt/tool/main.py\n"),
      entryOf(files, "vim", app + "TryExec=vim\nExec=vim %F\n"),
      entryOf(files, "com.example.Browser",
              app + "Exec=/usr/bin/vendor-browser\nStartupWMClass=Vendor-browser\n"),
      entryOf(files, "org.example.Viewer", app + "Exec=viewer-launch %f\n"),
      entryOf(files, "org.example.Gone", app + "Exec=/opt/gone/app\nHidden=true\n"),
      entryOf(files, "sh", app + "Exec=sh\n"),
  });
}

TEST(Catalog, ProcessesToEntries) {
  struct Case {
    const char* executable;
    std::vector<std::string> arguments;
    std::optional<std::string> id;
  };
  const std::vector<Case> cases = {
      {"/usr/lib/chromium/chromium", {"/usr/lib/chromium/chromium", "--type=utility"}, "chromium"},
      {"/usr/lib/firefox-esr/firefox-esr", {"firefox-esr"}, "firefox-esr"},
      {"/opt/vendor/browser/browser", {"/usr/bin/vendor-browser"}, "com.example.Browser"},
      {"/usr/bin/vim.basic", {"vim", "notes.txt"}, "vim"},
      // The executable's name is the entry's id.
      {"/opt/viewer/org.example.Viewer", {"org.example.Viewer"}, "org.example.Viewer"},
      // Interpreters: only the script an entry runs.
      {"/usr/bin/python3.11", {"/usr/bin/python3", "/usr/bin/meld", "a", "b"}, "meld"},
      {"/usr/bin/python3.11", {"python3", "main.py"}, std::nullopt},  // relative, no folder known
      {"/usr/bin/python3.11", {"python3", "/opt/tool/main.py"}, "tool"},
      {"/usr/bin/python3.11", {"python3", "/home/u/bare.py"}, std::nullopt},
      {"/usr/bin/python3.11", {"python3.11"}, std::nullopt},
      {"/usr/bin/python3.11", {"python3", "-c", "import x"}, std::nullopt},
      {"/usr/bin/dash", {"sh", "-c", "x"}, std::nullopt},
      {"/usr/bin/dash", {"sh"}, std::nullopt},
      {"/opt/gone/app", {"app"}, std::nullopt},  // hidden entry
      {"/usr/bin/env", {"env"}, std::nullopt},
      {"/usr/bin/unknown", {"unknown"}, std::nullopt},
  };
  const desktop::Catalog catalog = debianLikeCatalog();
  for (const auto& c : cases) {
    const auto image = desktop::processImage(c.executable, c.arguments, "/home/u");
    const desktop::IndexedEntry* entry = catalog.byImage(image);
    EXPECT_EQ(entry ? std::optional<std::string>(entry->id) : std::nullopt, c.id)
        << c.executable << " " << (c.arguments.size() > 1 ? c.arguments[1] : "");
  }
  // A relative script is found from the process's working folder.
  const auto relative =
      desktop::processImage("/usr/bin/python3.11", {"python3", "./main.py"}, "/opt/tool");
  EXPECT_EQ(relative.script, "/opt/tool/main.py");
  EXPECT_EQ(catalog.byImage(relative)->id, "tool");
  EXPECT_FALSE(
      desktop::processImage("/usr/bin/python3.11", {"python3", "main.py"}, std::nullopt).script);
}

TEST(Catalog, WindowClassesToEntries) {
  using desktop::WindowClass;
  struct Case {
    std::vector<WindowClass> classes;
    std::optional<std::string> id;
  };
  const std::vector<Case> cases = {
      {{{"chromium", "Chromium"}}, "chromium"},
      {{{"Navigator", "firefox-esr"}}, "firefox-esr"},
      {{{"browser", "Vendor-browser"}}, "com.example.Browser"},
      // StartupWMClass is matched as written; ids regardless of case.
      {{{"vendor-browser", "VENDOR-BROWSER"}}, std::nullopt},
      {{{"org.example.viewer", "Org.example.Viewer"}}, "org.example.Viewer"},
      {{{"meld", "Meld"}}, "meld"},
      // A StartupWMClass on any window beats an id on an earlier one.
      {{{"vim", "Vim"}, {"chromium", "Chromium"}}, "chromium"},
      {{{"xterm", "XTerm"}}, std::nullopt},
      {{{"org.example.gone", "Gone"}}, std::nullopt},
      {{}, std::nullopt},
  };
  const desktop::Catalog catalog = debianLikeCatalog();
  for (const auto& c : cases) {
    const desktop::IndexedEntry* entry = catalog.byWindowClasses(c.classes);
    EXPECT_EQ(entry ? std::optional<std::string>(entry->id) : std::nullopt, c.id)
        << (c.classes.empty() ? "(none)" : c.classes[0].className);
  }
}

TEST(Catalog, ALaunchedEntryCountsOnlyForItsOwnProgram) {
  struct Case {
    const char* entry;
    const char* executable;
    std::vector<std::string> arguments;
    bool runs;
  };
  const std::vector<Case> cases = {
      {"chromium", "/usr/lib/chromium/chromium", {"chromium"}, true},
      {"chromium", "/usr/bin/pw-record", {"pw-record"}, false},
      {"chromium", "/usr/bin/python3.11", {"python3", "/opt/tool/main.py"}, false},
      {"tool", "/usr/bin/python3.11", {"python3", "/opt/tool/main.py"}, true},
      {"tool", "/usr/bin/python3.11", {"python3", "/opt/other.py"}, false},
      {"vim", "/usr/bin/vim.basic", {"vim"}, true},
      {"org.example.Viewer", "/usr/local/bin/viewer-launch", {"viewer-launch"}, true},
      {"firefox-esr", "/usr/lib/firefox-esr/firefox-esr", {"firefox-esr"}, true},
      {"firefox-esr", "/usr/bin/dash", {"sh", "-c", "firefox-esr"}, false},
      {"python3.11", "/usr/bin/python3.11", {"python3.11"}, false},
  };
  const desktop::Catalog catalog = debianLikeCatalog();
  for (const auto& c : cases) {
    const desktop::IndexedEntry* entry = catalog.byId(c.entry);
    ASSERT_NE(entry, nullptr) << c.entry;
    EXPECT_EQ(desktop::runsEntry(*entry, desktop::processImage(c.executable, c.arguments, "/")),
              c.runs)
        << c.entry << " " << c.executable;
  }
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
    write(dir / "stat",
          std::to_string(pid) + " (proc name) S " + std::to_string(parent) + " 1 1\n");
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
  addEntry("vendor/editor.desktop",
           "[Desktop Entry]\nType=Application\nName=Editor\nExec=/opt/editor/bin/edit\n");
  addEntry("vendor/notes.desktop",
           "[Desktop Entry]\nType=Application\nName=Notes\nExec=/opt/editor/bin/edit --notes\n");
  addEntry("shell.desktop",
           "[Desktop Entry]\nType=Application\nName=Shell thing\nExec=sh -c \"x\"\n");
  write(root_ / "bin/meeting-app", "");

  using namespace std::string_literals;
  const std::string scope =
      "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Chat-99.scope\n";
  const std::string notes = (root_ / "system/applications/vendor/notes.desktop").string();
  // By cgroup, even when the environment and executable say otherwise.
  addProcess(100, 1, "/usr/bin/meeting-app", scope,
             "GIO_LAUNCHED_DESKTOP_FILE="s +
                 (root_ / "system/applications/org.example.Meeting.desktop").string() + '\0');
  // By the launched desktop file: of two entries that run the same program,
  // the one it was launched from.
  addProcess(101, 1, "/opt/editor/bin/edit", plainSession,
             "X=1\0GIO_LAUNCHED_DESKTOP_FILE="s + notes + '\0');
  // By the executable's name, and by an absolute Exec path.
  addProcess(102, 1, "/usr/lib/meeting/meeting-app");
  addProcess(103, 1, "/opt/editor/bin/edit");
  // What a process says about its first argument makes it nothing.
  addProcess(104, 1, "/usr/bin/python3", plainSession, {}, "/opt/editor/bin/edit\0--x\0"s);
  // Nothing: a shell is no application even though an entry runs one.
  addProcess(105, 1, "/usr/bin/sh");
  addProcess(106, 1, "/usr/bin/unknown");

  desktop::EntryIndex index(environment({"de"}), desktop::EntryIndex::Refresh::manual);
  EXPECT_EQ(desktop::appIdOfProcess(100, index), "org.example.Chat");
  EXPECT_EQ(desktop::appIdOfProcess(101, index), "vendor-notes");
  EXPECT_EQ(desktop::appIdOfProcess(102, index), "org.example.Meeting");
  EXPECT_EQ(desktop::appIdOfProcess(103, index), "vendor-editor");
  EXPECT_FALSE(desktop::appIdOfProcess(104, index));
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

// A process cannot become another application by naming its desktop file,
// and what the variable names is never opened unless it is a regular file:
// a FIFO that nobody writes to costs nothing.
TEST_F(FakeDesktop, TheLaunchVariableIsNoClaim) {
  using namespace std::string_literals;
  addEntry("org.example.Bank.desktop",
           "[Desktop Entry]\nType=Application\nName=Bank\nExec=/opt/bank/bank\n");
  const std::string bank = (root_ / "system/applications/org.example.Bank.desktop").string();
  const fs::path fifo = root_ / "elsewhere/trap.desktop";
  fs::create_directories(fifo.parent_path());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  write(root_ / "elsewhere/own.desktop",
        "[Desktop Entry]\nType=Application\nName=Own\nExec=/opt/own/own\n");
  write(root_ / "elsewhere/lies.desktop",
        "[Desktop Entry]\nType=Application\nName=Lies\nExec=/opt/bank/bank\n");

  addProcess(400, 1, "/usr/bin/pw-record", plainSession,
             "GIO_LAUNCHED_DESKTOP_FILE="s + bank + '\0');
  addProcess(401, 1, "/usr/bin/pw-record", plainSession,
             "GIO_LAUNCHED_DESKTOP_FILE="s + fifo.string() + '\0');
  addProcess(402, 1, "/opt/own/own", plainSession,
             "GIO_LAUNCHED_DESKTOP_FILE="s + (root_ / "elsewhere/own.desktop").string() + '\0');
  addProcess(403, 1, "/opt/own/own", plainSession,
             "GIO_LAUNCHED_DESKTOP_FILE="s + (root_ / "elsewhere/lies.desktop").string() + '\0');
  addProcess(404, 1, "/opt/bank/bank", plainSession,
             "GIO_LAUNCHED_DESKTOP_FILE="s + fifo.string() + '\0');

  desktop::EntryIndex index(environment(), desktop::EntryIndex::Refresh::manual);
  EXPECT_FALSE(desktop::appIdOfProcess(400, index));
  EXPECT_FALSE(desktop::appIdOfProcess(401, index));
  // A desktop file outside the folders names its own program's process.
  const auto own = desktop::applicationOfProcess(402, index);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->id, "own");
  EXPECT_EQ(own->name, "Own");
  EXPECT_FALSE(desktop::appIdOfProcess(403, index));
  // The real program is still found by its executable.
  EXPECT_EQ(desktop::appIdOfProcess(404, index), "org.example.Bank");
  EXPECT_EQ(desktop::processesOfApplication("org.example.Bank", index), (std::vector<pid_t>{404}));
}

TEST_F(FakeDesktop, HelpersOfAnApplicationAreNotTheApplication) {
  using namespace std::string_literals;
  const std::string launched = "GIO_LAUNCHED_DESKTOP_FILE="s +
                               (root_ / "home/applications/org.example.Meeting.desktop").string() +
                               '\0';
  addEntry("org.example.Meeting.desktop",
           "[Desktop Entry]\nType=Application\nName=Meeting\nExec=meeting\n", true);
  addProcess(200, 1, "/usr/bin/meeting", plainSession, launched);
  // Its children of the same program are helpers, not applications.
  addProcess(201, 200, "/usr/bin/meeting", plainSession, launched);
  addProcess(202, 201, "/usr/bin/meeting", plainSession, launched);
  // A tool it runs inherits the launch environment but is no application:
  // the agent finds the application among its parents.
  addProcess(203, 200, "/usr/bin/pw-record", plainSession, launched);
  // A second, separately started instance is an application of its own.
  addProcess(210, 1, "/usr/bin/meeting", plainSession, launched);
  // A child with an id of its own is an application too.
  addProcess(
      220, 200, "/usr/bin/x",
      "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.example.Other-1.scope\n");

  desktop::EntryIndex index(environment(), desktop::EntryIndex::Refresh::manual);
  EXPECT_TRUE(desktop::applicationOfProcess(200, index));
  EXPECT_FALSE(desktop::applicationOfProcess(201, index));
  EXPECT_FALSE(desktop::applicationOfProcess(202, index));
  EXPECT_EQ(desktop::appIdOfProcess(202, index), "org.example.Meeting");
  EXPECT_FALSE(desktop::appIdOfProcess(203, index));
  EXPECT_EQ(desktop::processesOfApplication("org.example.Meeting", index),
            (std::vector<pid_t>{200, 210}));
  EXPECT_EQ(desktop::processesOfApplication("org.example.Other", index), (std::vector<pid_t>{220}));
  EXPECT_TRUE(desktop::processesOfApplication("org.example.None", index).empty());
}

// Debian's Chromium: a wrapper script in the entry, the binary it execs
// running, helpers below it, and an interpreter entry beside it that must not
// swallow Python processes. The lookup by id finds exactly the processes the
// lookup by pid names.
TEST_F(FakeDesktop, WrappersInterpretersAndBothLookupsAgree) {
  using namespace std::string_literals;
  write(root_ / "lib/chromium/chromium", "\177ELF");
  write(root_ / "bin/chromium", "#!/bin/sh\nLIBDIR="s + (root_ / "lib").string() +
                                    "/chromium\nexec $LIBDIR/chromium \"$@\"\n");
  fs::permissions(root_ / "bin/chromium", fs::perms::owner_all);
  write(root_ / "bin/tondrel-tool", "#!/usr/bin/python3\nprint()\n");
  fs::permissions(root_ / "bin/tondrel-tool", fs::perms::owner_all);
  addEntry("chromium.desktop",
           "[Desktop Entry]\nType=Application\nName=Chromium\nExec=chromium %U\n");
  addEntry("python3.11.desktop",
           "[Desktop Entry]\nType=Application\nName=Python (v3.11)\nExec=/usr/bin/python3.11\n");
  addEntry("org.example.Tool.desktop",
           "[Desktop Entry]\nType=Application\nName=Tool\nExec=tondrel-tool\n");
  const std::string chromium = (root_ / "lib/chromium/chromium").string();
  addProcess(500, 1, chromium, plainSession, {}, "/usr/lib/chromium/chromium\0"s);
  addProcess(501, 500, chromium, plainSession, {}, "chromium --type=zygote\0"s);
  addProcess(502, 501, chromium, plainSession, {}, "chromium --type=renderer\0"s);
  addProcess(503, 500, chromium, plainSession, {}, "chromium --type=utility\0"s);
  addProcess(510, 1, "/usr/bin/python3.11", plainSession, {},
             "/usr/bin/python3\0"s + (root_ / "bin/tondrel-tool").string() + '\0');
  addProcess(511, 510, "/usr/bin/pw-record", plainSession, {}, "pw-record\0"s);
  addProcess(512, 1, "/usr/bin/python3.11", plainSession, {}, "python3\0/home/u/bare.py\0"s);
  addProcess(513, 512, "/usr/bin/python3.11", plainSession, {}, "python3\0/home/u/other.py\0"s);
  addProcess(514, 1, "/usr/bin/python3.11", plainSession, {}, "python3.11\0"s);

  desktop::EntryIndex index(environment(), desktop::EntryIndex::Refresh::manual);
  EXPECT_EQ(desktop::appIdOfProcess(503, index), "chromium");
  EXPECT_EQ(desktop::appIdOfProcess(510, index), "org.example.Tool");
  for (const pid_t none : {511, 512, 513, 514})
    EXPECT_FALSE(desktop::appIdOfProcess(none, index)) << none;

  std::map<std::string, std::vector<pid_t>> byPid;
  for (const pid_t pid : procfs::allPids(environment().procRoot)) {
    if (const auto app = desktop::applicationOfProcess(pid, index)) byPid[app->id].push_back(pid);
  }
  EXPECT_EQ(byPid, (std::map<std::string, std::vector<pid_t>>{{"chromium", {500}},
                                                              {"org.example.Tool", {510}}}));
  for (const auto& [id, pids] : byPid)
    EXPECT_EQ(desktop::processesOfApplication(id, index), pids) << id;
  EXPECT_TRUE(desktop::processesOfApplication("python3.11", index).empty());
}

// Windows answer before the executable; without an entry for their class
// the executable still counts.
TEST_F(FakeDesktop, WindowClassesComeBeforeTheExecutable) {
  struct Windows : desktop::WindowSource {
    std::map<pid_t, std::vector<desktop::WindowClass>> classes;
    std::vector<desktop::WindowClass> classesOf(pid_t pid) override { return classes[pid]; }
  };
  addEntry(
      "org.example.Viewer.desktop",
      "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/opt/elsewhere/run\nStartupWMClass=ViewerMain\n");
  addEntry("org.example.Player.desktop",
           "[Desktop Entry]\nType=Application\nName=Player\nExec=/opt/player/player\n");
  addProcess(600, 1, "/opt/viewer/bin/viewer-real");
  addProcess(601, 600, "/opt/viewer/bin/viewer-real");
  addProcess(602, 1, "/opt/player/player");
  auto windows = std::make_shared<Windows>();
  windows->classes[600] = {{"viewer-real", "ViewerMain"}};
  windows->classes[602] = {{"unknown", "Unknown"}};
  desktop::EntryIndex index(environment(), desktop::EntryIndex::Refresh::manual);
  index.setWindowSource(windows);
  EXPECT_EQ(desktop::applicationOfProcess(600, index)->id, "org.example.Viewer");
  // The helper has no window and matches no entry: not the application; the
  // agent finds it among its parents.
  EXPECT_FALSE(desktop::applicationOfProcess(601, index));
  EXPECT_EQ(desktop::applicationOfProcess(602, index)->id, "org.example.Player");
  EXPECT_EQ(desktop::processesOfApplication("org.example.Viewer", index),
            (std::vector<pid_t>{600}));
}

TEST_F(FakeDesktop, EarlierFoldersHideLaterOnesAndChangesAreSeen) {
  addEntry("app.desktop", "[Desktop Entry]\nType=Application\nName=System\nExec=app\n");
  addProcess(300, 1, "/usr/bin/app");
  desktop::EntryIndex index(environment(), desktop::EntryIndex::Refresh::manual);
  EXPECT_EQ(desktop::applicationOfProcess(300, index)->name, "System");

  // An entry in the user's folder takes the id over; a hidden one removes it.
  addEntry("app.desktop", "[Desktop Entry]\nType=Application\nName=Mine\nExec=app\n", true);
  EXPECT_EQ(desktop::applicationOfProcess(300, index)->name, "Mine");
  fs::remove(root_ / "home/applications/app.desktop");
  addEntry("app.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n", true);
  EXPECT_FALSE(index.entryById("app"));
  EXPECT_FALSE(desktop::appIdOfProcess(300, index));
  // A subfolder's changes are seen too.
  addEntry("vendor/tool.desktop", "[Desktop Entry]\nType=Application\nName=Tool\nExec=/opt/tool\n");
  EXPECT_TRUE(index.entryById("vendor-tool"));
}

// The background reading: lookups answer from the last complete reading
// while the folders keep changing, and a new entry is seen soon after.
TEST_F(FakeDesktop, BackgroundReadingSeesChangesAndNeverHoldsLookups) {
  addProcess(700, 1, "/opt/late/late");
  desktop::EntryIndex index(environment());
  EXPECT_FALSE(desktop::appIdOfProcess(700, index));
  addEntry("late.desktop", "[Desktop Entry]\nType=Application\nName=Late\nExec=/opt/late/late\n",
           true);
  std::optional<std::string> id;
  for (int i = 0; i < 200 && !id; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    id = desktop::appIdOfProcess(700, index);
  }
  EXPECT_EQ(id, "late");

  // A folder that changes all the time: lookups go on from other threads.
  std::atomic<bool> done{false};
  std::thread toucher([&] {
    for (int i = 0; !done; ++i) {
      addEntry("churn-" + std::to_string(i % 50) + ".desktop",
               "[Desktop Entry]\nType=Application\nName=C\nExec=/opt/c\n", true);
      if (i % 2 == 1)
        fs::remove(root_ / "home/applications" / ("churn-" + std::to_string(i % 50) + ".desktop"));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      for (int i = 0; i < 100; ++i) EXPECT_EQ(desktop::appIdOfProcess(700, index), "late");
    });
  }
  for (auto& reader : readers) reader.join();
  done = true;
  toucher.join();
}

TEST_F(FakeDesktop, AnEntryReadHalfWrittenIsReadAgainOnceWritten) {
  // Programs that install entries write them after creating them: the index
  // may read a file between the two. Writing a file in place leaves its
  // folder's time stamp as it was, so only being told of the write finds it.
  addProcess(710, 1, "/opt/slow/slow");
  addProcess(711, 1, "/opt/marker/marker");
  desktop::EntryIndex index(environment());
  EXPECT_FALSE(desktop::appIdOfProcess(710, index));
  const auto lookUp = [&index](pid_t pid) {
    std::optional<std::string> id;
    for (int i = 0; i < 200 && !id; ++i) {
      id = desktop::appIdOfProcess(pid, index);
      if (!id) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return id;
  };
  addEntry("slow.desktop", "", true);
  addEntry("marker.desktop", "[Desktop Entry]\nType=Application\nName=M\nExec=/opt/marker/marker\n",
           true);
  // Read once the marker is: the slow entry was empty then.
  ASSERT_EQ(lookUp(711), "marker");
  EXPECT_FALSE(desktop::appIdOfProcess(710, index));
  std::ofstream(root_ / "home/applications/slow.desktop", std::ios::app)
      << "[Desktop Entry]\nType=Application\nName=Slow\nExec=/opt/slow/slow\n";
  EXPECT_EQ(lookUp(710), "slow");
}

}  // namespace
