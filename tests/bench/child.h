// A child process with a pipe on its standard input and output, as a host
// starts the agent.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace bench {

class Child {
 public:
  // Starts the program; ok() tells whether it runs.
  explicit Child(std::vector<std::string> argv);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Reads up to and including the next line feed; false at end of output.
  bool readLine();
  // Closes the child's input (which ends the agent) and waits for its exit.
  void finish();

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

}  // namespace bench
