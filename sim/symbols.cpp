#include "sim/symbols.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

#undef dlsym

namespace {

std::mutex lock;
std::map<std::string, void*>& table() {
  static auto* instance = new std::map<std::string, void*>;
  return *instance;
}

}  // namespace

namespace sim::symbols {

void define(const char* name, void* address) {
  std::lock_guard<std::mutex> guard(lock);
  if (address == nullptr) {
    table().erase(name);
  } else {
    table()[name] = address;
  }
}

}  // namespace sim::symbols

extern "C" void* tondrelDlsym(void* handle, const char* symbol) {
  {
    std::lock_guard<std::mutex> guard(lock);
    auto found = table().find(symbol);
    if (found != table().end()) return found->second;
  }
  // Functions of the simulated Mac that are not defined are missing, whatever
  // the host system happens to export under the same name.
  if (std::string(symbol).rfind("responsibility_", 0) == 0) return nullptr;
  return dlsym(handle, symbol);
}
