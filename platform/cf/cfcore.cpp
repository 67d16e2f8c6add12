// The CoreFoundation core for builds without the framework: the object model
// (reference counts, the registry of live objects, kinds) and the calls that
// apply to every kind. Each built-in kind has a file of its own (cf_*.cpp).
#include "platform/cf/cfcore.h"

#include "platform/cf/internal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace cfcore {
namespace {

// Never destroyed: threads that outlive main may still release objects while
// static destructors run.
struct Registry {
  std::mutex lock;
  std::unordered_set<const Object*> alive;
  std::vector<std::string> typeNames{"(none)",    "CFString", "CFNumber",
                                     "CFBoolean", "CFArray",  "CFURL"};
  std::atomic<long> mortal{0};
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

}  // namespace

void fail(const char* what, const char* why, CFTypeRef ref) {
  std::fprintf(stderr, "CoreFoundation core: %s: %s (%p)\n", what, why, ref);
  std::fflush(stderr);
  std::abort();
}

Object::Object(CFTypeID type, bool immortal) : type_(type), immortal_(immortal) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.alive.insert(this);
  if (!immortal_) r.mortal.fetch_add(1, std::memory_order_relaxed);
}

Object::~Object() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.alive.erase(this);
  if (!immortal_) r.mortal.fetch_sub(1, std::memory_order_relaxed);
}

CFTypeID registerType(const char* name) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.typeNames.emplace_back(name);
  return r.typeNames.size() - 1;
}

const char* typeName(CFTypeID type) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return type < r.typeNames.size() ? r.typeNames[type].c_str() : "(unknown)";
}

long liveObjects() { return registry().mortal.load(std::memory_order_relaxed); }

std::string describeLiveObjects() {
  Registry& r = registry();
  std::map<std::string, long> byKind;
  {
    std::lock_guard<std::mutex> guard(r.lock);
    for (const Object* object : r.alive) {
      if (object->immortal()) continue;
      const CFTypeID type = object->type();
      ++byKind[type < r.typeNames.size() ? r.typeNames[type] : "(unknown)"];
    }
  }
  std::string text;
  for (const auto& [kind, count] : byKind) {
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + kind;
  }
  return text.empty() ? "none" : text;
}

Object* checked(CFTypeRef ref, const char* what) {
  if (ref == nullptr) fail(what, "called with NULL", ref);
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto* object = static_cast<const Object*>(ref);
  if (r.alive.find(object) == r.alive.end()) {
    fail(what, "the object is not alive (released too often, or never created)", ref);
  }
  return const_cast<Object*>(object);
}

}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) {
  Object* object = checked(cf, "CFRetain");
  if (!object->immortal()) object->refs().fetch_add(1, std::memory_order_relaxed);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  Object* object = checked(cf, "CFRelease");
  if (object->immortal()) return;
  if (object->refs().fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  Object* object = checked(cf, "CFGetRetainCount");
  return object->immortal() ? std::numeric_limits<CFIndex>::max()
                            : object->refs().load(std::memory_order_relaxed);
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return checked(cf, "CFGetTypeID")->type(); }

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  Object* a = checked(cf1, "CFEqual");
  Object* b = checked(cf2, "CFEqual");
  if (a == b) return true;
  return a->type() == b->type() && a->equals(*b);
}

CFHashCode CFHash(CFTypeRef cf) { return checked(cf, "CFHash")->hash(); }

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  using namespace std::chrono;
  constexpr double sinceUnixEpoch = 978307200.0;  // 2001-01-01 00:00:00 UTC
  return duration<double>(system_clock::now().time_since_epoch()).count() - sinceUnixEpoch;
}

}  // extern "C"
