// The desktop-entry index and application lookups over this machine's
// processes, with a folder of many entries of the benchmark's own:
//   tondrel_bench_desktop [ENTRIES=50000]
// Prints the time of the first reading (every entry parsed and its program
// resolved), of a reading again after the folder changed (entries unchanged
// on disk are taken from the last reading), of one lookup by pid and of one
// lookup by id over every process, beside the same lookups with no entries
// of the benchmark's own. Wall-clock times, best of several runs.
#include "platform/linux/desktop_apps.h"
#include "platform/linux/procfs.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double bestMs(int runs, const std::function<void()>& work) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long entries = argc > 1 ? std::atol(argv[1]) : 50000;
  std::string pattern = (fs::temp_directory_path() / "tondrel-bench-desktop-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path root = pattern;
  const fs::path bulk = root / "applications/bulk";
  fs::create_directories(bulk);
  for (long i = 0; i < entries; ++i) {
    std::ofstream(bulk / ("org.example.Bulk" + std::to_string(i) + ".desktop"))
        << "[Desktop Entry]\nType=Application\nName=Bulk " << i << "\nName[de]=Masse " << i
        << "\nExec=/opt/bulk/bulk" << i << " %U\n";
  }

  const desktop::Environment empty = desktop::Environment::fromProcess();
  desktop::Environment environment = desktop::Environment::fromProcess();
  std::vector<std::string> dirs{(root / "applications").string()};
  dirs.insert(dirs.end(), empty.applicationDirs.begin(), empty.applicationDirs.end());
  environment.applicationDirs = std::move(dirs);
  desktop::EntryIndex index(environment, desktop::EntryIndex::Refresh::manual);
  desktop::EntryIndex plain(empty, desktop::EntryIndex::Refresh::manual);

  const double first = bestMs(1, [&] { index.rescan(); });
  const double again = bestMs(3, [&] { index.rescan(); });
  const pid_t self = getpid();
  const double byPid = bestMs(20, [&] { (void)desktop::applicationOfProcess(self, index); });
  const double byPidPlain = bestMs(20, [&] { (void)desktop::applicationOfProcess(self, plain); });
  const double byId =
      bestMs(5, [&] { (void)desktop::processesOfApplication("org.example.Bulk7", index); });
  const double byIdPlain =
      bestMs(5, [&] { (void)desktop::processesOfApplication("org.example.Bulk7", plain); });
  const std::size_t processes = procfs::allPids().size();

  std::printf("desktop index, %ld entries of the benchmark's own beside this machine's:\n",
              entries);
  std::printf("  first reading                %10.1f ms\n", first);
  std::printf("  reading again, files kept    %10.1f ms\n", again);
  std::printf("  application of one pid       %10.3f ms  (without the entries: %.3f ms)\n", byPid,
              byPidPlain);
  std::printf("  pids of one id, %4zu procs   %10.1f ms  (without the entries: %.1f ms)\n",
              processes, byId, byIdPlain);
  fs::remove_all(root);
  return 0;
}
