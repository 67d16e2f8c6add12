// Start-up picks the monitor by the system version, polls once before `ready`
// and says which monitor runs in `ready`. Run in a child process, since the
// agent's start-up hands the thread to the run loop for good.
#include "agent/startup.h"
#include "unit/audio/audio_fixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace tondrel;

namespace {

struct StartupCase {
  const char* name;
  platform::darwin::OsVersion version;
  bool perProcess;
  const char* monitor;
};

const StartupCase startupCases[] = {
    {"Sonoma", {14, 0, 0}, true, "process"},
    {"Ventura", {13, 6, 1}, false, "device"},
    {"Monterey", {12, 0, 0}, false, "device"},
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

class StartupMonitor : public AudioWorld, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupMonitor, ReadyCarriesTheChoiceAndComesFirst) {
  const StartupCase& c = GetParam();
  const std::string tracePath = ::testing::TempDir() + "startup_monitor_" + c.name + ".trace";
  std::remove(tracePath.c_str());
  // Input already running at start must not show before or with `ready`.
  sim::audio::setProcesses({sim::audio::Process{10, 777, 1u}});
  sim::audio::setDevice({40, 1u});
  sim::audio::setDefaultInputDevice(40);
  sim::os::setVersion(c.version);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // End of input right away: the agent writes `ready`, then exits with 0.
    const int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    loop::threads::useRealClock();
    sim::trace::toFile(tracePath);
    agentMain();
    _exit(3);
  }
  close(out[1]);
  std::string written;
  char buffer[256];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
    written.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  ASSERT_FALSE(written.empty());
  ASSERT_EQ(written.back(), '\n');
  written.pop_back();
  ASSERT_EQ(written.find('\n'), std::string::npos) << written;
  EXPECT_EQ(nlohmann::json::parse(written, nullptr, false),
            (nlohmann::json{{"event", "ready"}, {"perProcess", c.perProcess}}));

  std::ifstream trace(tracePath);
  std::string first;
  ASSERT_TRUE(std::getline(trace, first));
  EXPECT_EQ(nlohmann::json::parse(first, nullptr, false),
            (nlohmann::json{{"event", "poll"}, {"monitor", c.monitor}}));
  std::remove(tracePath.c_str());
}

INSTANTIATE_TEST_SUITE_P(Versions, StartupMonitor, ::testing::ValuesIn(startupCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
