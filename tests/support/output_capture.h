// Captures what emit() writes, line by line, through a real pipe.
#pragma once

#include "agent/emit.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace tondrel;

class OutputCapture {
 public:
  OutputCapture() {
    if (pipe(fds_) != 0) ADD_FAILURE() << "pipe() failed";
    setOutputDescriptorForTesting(fds_[1]);
    reader_ = std::thread([this] {
      char buffer[4096];
      for (;;) {
        const ssize_t n = read(fds_[0], buffer, sizeof buffer);
        if (n <= 0) break;
        bytes_.append(buffer, static_cast<std::size_t>(n));
      }
    });
  }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  ~OutputCapture() { finish(); }

  // Stops capturing and answers everything written, split at line feeds. A
  // trailing piece without a line feed is answered as a last line too, so a
  // test can see it.
  std::vector<std::string> lines() {
    finish();
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = bytes_.find('\n', start);
      if (end == std::string::npos) break;
      out.push_back(bytes_.substr(start, end - start));
      start = end + 1;
    }
    if (start < bytes_.size()) out.push_back(bytes_.substr(start));
    return out;
  }

  const std::string& bytes() {
    finish();
    return bytes_;
  }

 private:
  void finish() {
    if (fds_[1] < 0) return;
    setOutputDescriptorForTesting(STDOUT_FILENO);
    close(fds_[1]);
    fds_[1] = -1;
    reader_.join();
    close(fds_[0]);
  }

  int fds_[2] = {-1, -1};
  std::thread reader_;
  std::string bytes_;
};
