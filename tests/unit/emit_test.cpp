#include "agent/emit.h"
#include "support/output_capture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tondrel;

namespace {

TEST(Emit, WritesOneLineEndingInASingleLineFeed) {
  OutputCapture capture;
  emit({{"event", std::string("mic")},
        {"running", true},
        {"pid", std::monostate{}},
        {"appPid", std::monostate{}},
        {"bundleId", std::monostate{}},
        {"appName", std::string("line\nbreak")}});
  EXPECT_EQ(capture.bytes(),
            "{\"event\":\"mic\",\"running\":true,\"pid\":null,\"appPid\":null,"
            "\"bundleId\":null,\"appName\":\"line\\nbreak\"}\n");
}

TEST(WriteAll, FinishesOnANonBlockingPipeThatFillsUp) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  const std::string big(1 << 20, 'x');  // far more than a pipe holds
  std::string received;
  std::thread reader([&] {
    char buffer[8192];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  EXPECT_TRUE(writeAll(fds[1], big));
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(received.size(), big.size());
  EXPECT_EQ(received, big);
}

// With the broken-pipe signal ignored (a disposition a host can pass on), a
// write to a closed reader must still end the agent, as the signal would.
TEST(WriteAll, ClosedReaderEndsTheProcessEvenWithTheSignalIgnored) {
  for (bool ignored : {false, true}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);  // no reader left anywhere
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
      writeAll(fds[1], "{}\n");
      _exit(3);  // reached only if the write did not end the process
    }
    close(fds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "ignored=" << ignored << " status=" << status;
    EXPECT_EQ(WTERMSIG(status), SIGPIPE);
  }
}

}  // namespace
