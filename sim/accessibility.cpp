// The simulated Accessibility API over the world described in
// sim/accessibility.h.
#include "sim/accessibility.h"

#include "platform/cf/cf_string.h"

#include <mutex>
#include <nlohmann/json.hpp>
#include <chrono>
#include <set>
#include <thread>

#include "sim/accessibility_objects.h"
#include "sim/trace.h"

namespace sim::ax {
namespace {

constexpr std::string_view manualAccessibility = "AXManualAccessibility";
constexpr std::string_view enhancedUserInterface = "AXEnhancedUserInterface";

struct World {
  std::mutex lock;
  bool trusted = false;
  std::map<pid_t, Application> apps;
  std::map<pid_t, long> walks;
  long trustChecks = 0;
  long created = 0;
  long reads = 0;
  std::map<std::string, long, std::less<>> readsByName;
  long sets = 0;
};

World& world() {
  static World* instance = new World;  // the page reader may outlive main
  return *instance;
}

Switch* switchNamed(Application& app, std::string_view name) {
  if (name == manualAccessibility) return &app.manualAccessibility;
  if (name == enhancedUserInterface) return &app.enhancedUserInterface;
  return nullptr;
}

const Attribute* findIn(const std::map<std::string, Attribute, std::less<>>& attributes,
                        std::string_view name) {
  auto found = attributes.find(name);
  return found == attributes.end() ? nullptr : &found->second;
}

Attribute windowsAnswer(const Application& app, long walk) {
  if (app.windowsRead) return *app.windowsRead;
  if (walk < app.windowsFromWalk) return answer(Value::ofArray({}));
  if (app.windowsNeedSwitch && !readsTrue(app.manualAccessibility.read) &&
      !readsTrue(app.enhancedUserInterface.read)) {
    return answer(Value::ofArray({}));
  }
  return answer(Value::ofElements(app.windows));
}

// What a read answers; called with the world locked.
Attribute readLocked(World& w, const Element& element, std::string_view name) {
  const bool isWindows = element.node() == nullptr && name == "AXWindows";
  if (isWindows) {
    const long walk = ++w.walks[element.pid()];
    if (sim::trace::active()) {
      sim::trace::record(
          nlohmann::json{{"event", "walk"}, {"pid", element.pid()}, {"walk", walk}}.dump());
    }
  }
  if (!w.trusted) return failure(kAXErrorAPIDisabled);
  auto app = w.apps.find(element.pid());
  if (app == w.apps.end()) return failure(kAXErrorCannotComplete);
  if (const NodePtr& node = element.node()) {
    if (const Attribute* given = findIn(node->attributes, name)) return *given;
    if (name == "AXChildren") return answer(Value::ofElements(node->children));
    return failure(kAXErrorAttributeUnsupported);
  }
  if (isWindows) return windowsAnswer(app->second, w.walks[element.pid()]);
  if (Switch* s = switchNamed(app->second, name)) return s->read;
  if (const Attribute* given = findIn(app->second.attributes, name)) return *given;
  return failure(kAXErrorAttributeUnsupported);
}

AXError setLocked(World& w, const Element& element, std::string_view name, CFTypeRef value) {
  if (!w.trusted) return kAXErrorAPIDisabled;
  auto app = w.apps.find(element.pid());
  if (app == w.apps.end()) return kAXErrorCannotComplete;
  Switch* s = element.node() == nullptr ? switchNamed(app->second, name) : nullptr;
  if (s == nullptr) return kAXErrorAttributeUnsupported;
  if (CFGetTypeID(value) != CFBooleanGetTypeID()) return kAXErrorIllegalArgument;
  if (!s->settable) return s->refusal;
  s->read = answer(Value::ofBoolean(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0));
  return kAXErrorSuccess;
}

// Empties every node reachable from the world, so that trees whose nodes refer
// to each other in a cycle are freed too.
void clearNodes(World& w) {
  std::vector<NodePtr> pending;
  std::set<Node*> seen;
  auto addValue = [&pending](const Value& value, auto& self) -> void {
    if (value.element) pending.push_back(value.element);
    for (const Value& item : value.items) self(item, self);
  };
  for (auto& [pid, app] : w.apps) {
    pending.insert(pending.end(), app.windows.begin(), app.windows.end());
    if (app.windowsRead) addValue(app.windowsRead->value, addValue);
    for (auto& [name, attribute] : app.attributes) addValue(attribute.value, addValue);
  }
  std::vector<NodePtr> all;
  while (!pending.empty()) {
    NodePtr node = std::move(pending.back());
    pending.pop_back();
    if (!node || !seen.insert(node.get()).second) continue;
    pending.insert(pending.end(), node->children.begin(), node->children.end());
    for (auto& [name, attribute] : node->attributes) addValue(attribute.value, addValue);
    all.push_back(std::move(node));
  }
  for (const NodePtr& node : all) {
    node->children.clear();
    node->attributes.clear();
  }
}

}  // namespace

void setTrusted(bool trusted) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.trusted = trusted;
}

void setApplication(Application application) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.walks.erase(application.pid);
  const pid_t pid = application.pid;
  w.apps.insert_or_assign(pid, std::move(application));
}

void removeApplication(pid_t pid) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.apps.erase(pid);
}

void reset() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  clearNodes(w);
  w.apps.clear();
  w.walks.clear();
  w.trusted = false;
  w.trustChecks = 0;
  w.created = 0;
  w.reads = 0;
  w.readsByName.clear();
  w.sets = 0;
}

std::optional<Attribute> switchState(pid_t pid, std::string_view name) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  auto app = w.apps.find(pid);
  if (app == w.apps.end()) return std::nullopt;
  Switch* s = switchNamed(app->second, name);
  if (s == nullptr) return std::nullopt;
  return s->read;
}

long trustChecks() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.trustChecks;
}

long applicationElementsCreated() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.created;
}

long reads() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.reads;
}

long reads(std::string_view attribute) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  auto found = w.readsByName.find(attribute);
  return found == w.readsByName.end() ? 0 : found->second;
}

long sets() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.sets;
}

long walks(pid_t pid) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  auto found = w.walks.find(pid);
  return found == w.walks.end() ? 0 : found->second;
}

}  // namespace sim::ax

using namespace sim::ax;

extern "C" {

Boolean AXIsProcessTrusted(void) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  ++w.trustChecks;
  return w.trusted;
}

CFTypeID AXUIElementGetTypeID(void) { return elementType(); }

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  {
    World& w = world();
    std::lock_guard<std::mutex> guard(w.lock);
    ++w.created;
  }
  return static_cast<AXUIElementRef>((new Element(pid, nullptr))->ref());
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  const Element* e = asElement(element, "AXUIElementCopyAttributeValue");
  const std::string_view name = cfcore::stringValue(attribute);
  if (value == nullptr) return kAXErrorIllegalArgument;
  Attribute read;
  double slow = 0;
  {
    World& w = world();
    std::lock_guard<std::mutex> guard(w.lock);
    if (const auto app = w.apps.find(e->pid()); app != w.apps.end()) slow = app->second.readSeconds;
    ++w.reads;
    auto counted = w.readsByName.find(name);
    if (counted == w.readsByName.end()) {
      counted = w.readsByName.emplace(std::string(name), 0).first;
    }
    ++counted->second;
    read = readLocked(w, *e, name);
  }
  if (slow > 0) std::this_thread::sleep_for(std::chrono::duration<double>(slow));
  // Built outside the world's lock: making objects takes the object registry's.
  if (read.value.kind != Value::Kind::none) *value = makeValue(read.value, e->pid());
  return read.result;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  const Element* e = asElement(element, "AXUIElementSetAttributeValue");
  const std::string_view name = cfcore::stringValue(attribute);
  if (value == nullptr) return kAXErrorIllegalArgument;
  cfcore::checked(value, "AXUIElementSetAttributeValue");
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  ++w.sets;
  const AXError result = setLocked(w, *e, name, value);
  if (sim::trace::active()) {
    nlohmann::json written = nullptr;
    if (CFGetTypeID(value) == CFBooleanGetTypeID()) {
      written = CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
    }
    sim::trace::record(nlohmann::json{
        {"event", "set-attribute"},
        {"pid", e->pid()},
        {"attribute", name},
        {"value", written},
        {"result", result}}.dump());
  }
  return result;
}

AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
  const Element* e = asElement(element, "AXUIElementSetMessagingTimeout");
  if (sim::trace::active()) {
    sim::trace::record(nlohmann::json{{"event", "messaging-timeout"},
                                      {"pid", e->pid()},
                                      {"seconds", timeoutInSeconds},
                                      {"element", e->node() ? "child" : "application"}}
                           .dump());
  }
  return timeoutInSeconds < 0 ? kAXErrorIllegalArgument : kAXErrorSuccess;
}

}  // extern "C"
