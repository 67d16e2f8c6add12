#include "sim/trace.h"

#include <cstdio>
#include <mutex>

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

}  // namespace

void capture(bool on) {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  s.capturing = on;
  if (!on) s.entries.clear();
}

bool toFile(const std::string& path) {
  Sink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.file != nullptr) {
    std::fclose(s.file);
    s.file = nullptr;
  }
  if (path.empty()) return true;
  s.file = std::fopen(path.c_str(), "a");
  return s.file != nullptr;
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
