#include "sim/trace.h"

#include <cstdio>
#include <mutex>

#include "platform/threads/loop_threads.h"

namespace sim::trace {
namespace {

struct Sink {
  std::mutex lock;
  bool capturing = false;
  std::vector<std::string> entries;
  std::FILE* file = nullptr;
};

Sink& sink() {
  static Sink* instance = new Sink;
  return *instance;
}

void recordWait(double seconds) {
  char json[64];
  std::snprintf(json, sizeof json, "{\"event\":\"wait\",\"seconds\":%g}", seconds);
  record(json);
}

// The run loop's waits are part of the trace while anything is traced.
void followWaits(const Sink& s) {
  loop::threads::observeWaits(s.capturing || s.file != nullptr ? recordWait : nullptr);
}

}  // namespace

void capture(bool on) {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  s.capturing = on;
  if (!on) s.entries.clear();
  followWaits(s);
}

bool toFile(const std::string& path) {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.file != nullptr) {
    std::fclose(s.file);
    s.file = nullptr;
  }
  if (!path.empty()) s.file = std::fopen(path.c_str(), "a");
  followWaits(s);
  return path.empty() || s.file != nullptr;
}

bool active() {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.capturing || s.file != nullptr;
}

void record(std::string json) {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.file != nullptr) {
    // Flushed per entry: a reader follows the file while the agent runs, and
    // the agent may end without tear-down.
    std::fwrite(json.data(), 1, json.size(), s.file);
    std::fputc('\n', s.file);
    std::fflush(s.file);
  }
  if (s.capturing) s.entries.push_back(std::move(json));
}

std::vector<std::string> take() {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  std::vector<std::string> out;
  out.swap(s.entries);
  return out;
}

}  // namespace sim::trace
