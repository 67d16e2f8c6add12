// The accessibility part of a scenario: the permission and, per application,
// the two switch attributes and the window trees.
//
// An attribute's answer is written as its value (null: no value; true/false;
// a number; a string; an array of values; {"url": ...}, {"string": ...},
// {"element": ...}, {"elements": [...]}) or as {"fails": true | error name}
// with an optional "value" that the failing read stores all the same. Where a
// key has an obvious kind ("url" is a URL), a plain string is that kind.
#include "sections.h"

namespace {

using sim::ax::Attribute;
using sim::ax::Node;
using sim::ax::NodePtr;
using sim::ax::Value;

// Trees are read recursively; a limit keeps a runaway file from exhausting
// the stack. Real trees are far shallower.
constexpr int deepest = 200;

enum class Text { string, url };

bool readElement(const Place& place, int depth, NodePtr& out);

bool tooDeep(const Place& place, int depth) {
  if (depth <= deepest) return false;
  place.problemAt(place.pointer(),
                  "expected at most " + std::to_string(deepest) + " levels of nesting, found more");
  return true;
}

bool readElements(const Place& place, int depth, std::vector<NodePtr>& out) {
  if (!place.array()) return false;
  for (std::size_t i = 0; i < place.json().size(); ++i) {
    NodePtr node;
    if (!readElement(*place.item(i), depth + 1, node)) return false;
    out.push_back(std::move(node));
  }
  return true;
}

bool readValue(const Place& place, Text text, int depth, Value& out) {
  const nlohmann::json& value = place.json();
  if (value.is_null()) {
    out = Value::none();
  } else if (value.is_boolean()) {
    out = Value::ofBoolean(value.get<bool>());
  } else if (value.is_number_float()) {
    out = Value::ofReal(value.get<double>());
  } else if (value.is_number()) {
    std::int64_t number = 0;
    if (!readWhole(place, INT64_MIN, INT64_MAX, "a number", number)) return false;
    out = Value::ofInteger(number);
  } else if (value.is_string()) {
    const auto& s = value.get<std::string>();
    out = text == Text::url ? Value::ofUrl(s) : Value::ofString(s);
  } else if (value.is_array()) {
    if (tooDeep(place, depth)) return false;
    std::vector<Value> items;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const Place item = *place.item(i);
      // An array of the platform cannot hold "nothing".
      if (item.json().is_null()) return item.expected("a value");
      Value v;
      if (!readValue(item, Text::string, depth + 1, v)) return false;
      items.push_back(std::move(v));
    }
    out = Value::ofArray(std::move(items));
  } else {
    if (value.size() != 1) {
      return place.expected(
          "a value: an object with one of \"string\", \"url\", \"element\", \"elements\", "
          "\"list\"");
    }
    if (!place.object({"string", "url", "element", "elements", "list"})) return false;
    const std::string key = value.begin().key();
    const Place inner = *place.member(key);
    if (key == "list") {
      // A list of values where a plain array would be read as elements
      // (windows, children): how a list with a non-element in it is written.
      if (!inner.json().is_array()) return inner.expected("an array of values");
      return readValue(inner, text, depth + 1, out);
    }
    if (key == "string" || key == "url") {
      std::string s;
      if (!readString(inner, s)) return false;
      out = key == "url" ? Value::ofUrl(std::move(s)) : Value::ofString(std::move(s));
    } else if (key == "element") {
      NodePtr node;
      if (!readElement(inner, depth + 1, node)) return false;
      out = Value::ofElement(std::move(node));
    } else {
      std::vector<NodePtr> nodes;
      if (!readElements(inner, depth, nodes)) return false;
      out = Value::ofElements(nodes);
    }
  }
  return true;
}

bool readErrorCode(const Place& place, AXError& out) {
  if (place.json().is_boolean() && place.json().get<bool>()) {
    out = kAXErrorFailure;
    return true;
  }
  constexpr struct {
    std::string_view name;
    AXError code;
  } codes[] = {
      {"failure", kAXErrorFailure},
      {"illegalArgument", kAXErrorIllegalArgument},
      {"invalidUIElement", kAXErrorInvalidUIElement},
      {"cannotComplete", kAXErrorCannotComplete},
      {"attributeUnsupported", kAXErrorAttributeUnsupported},
      {"notImplemented", kAXErrorNotImplemented},
      {"apiDisabled", kAXErrorAPIDisabled},
      {"noValue", kAXErrorNoValue},
  };
  std::size_t index = 0;
  if (!place.json().is_string()) {
    return place.expected("true or an error name such as \"cannotComplete\"");
  }
  if (!readName(place,
                {"failure", "illegalArgument", "invalidUIElement", "cannotComplete",
                 "attributeUnsupported", "notImplemented", "apiDisabled", "noValue"},
                index)) {
    return false;
  }
  out = codes[index].code;
  return true;
}

bool readAnswer(const Place& place, Text text, int depth, Attribute& out) {
  const nlohmann::json& value = place.json();
  if (value.is_object() && value.contains("fails")) {
    if (!place.object({"fails", "value"})) return false;
    AXError code = kAXErrorFailure;
    Value stored;
    const bool read = readErrorCode(*place.member("fails"), code) &&
                      optionalMember(place, "value", [&](const Place& p) {
                        return readValue(p, text, depth + 1, stored);
                      });
    if (!read) return false;
    out = sim::ax::failure(code);
    out.value = std::move(stored);
    return true;
  }
  Value v;
  if (!readValue(place, text, depth, v)) return false;
  out = sim::ax::answer(std::move(v));
  return true;
}

using Attributes = std::map<std::string, Attribute, std::less<>>;

bool readAttributes(const Place& place, int depth, Attributes& out) {
  if (!place.json().is_object()) return place.expected("an object of attribute answers");
  for (const auto& [name, value] : place.json().items()) {
    Attribute attribute;
    if (!readAnswer(*place.member(name), Text::string, depth + 1, attribute)) return false;
    out[name] = std::move(attribute);
  }
  return true;
}

// A key of the element that stands for one of its attributes.
bool shorthand(const Place& element, std::string_view key, std::string_view attribute, Text text,
               int depth, Node& node) {
  const std::optional<Place> place = element.member(key);
  if (!place) return true;
  if (node.attributes.count(attribute) != 0) {
    return element.problemAt(element.memberPointer("attributes") + "/" + std::string(attribute),
                             "expected " + std::string(attribute) +
                                 " only once, found it also as \"" + std::string(key) + "\"");
  }
  return readAnswer(*place, text, depth + 1, node.attributes[std::string(attribute)]);
}

bool readElement(const Place& place, int depth, NodePtr& out) {
  if (tooDeep(place, depth)) return false;
  if (!place.object({"role", "url", "children", "attributes"})) return false;
  auto node = std::make_shared<Node>();
  if (!optionalMember(place, "attributes",
                      [&](const Place& p) { return readAttributes(p, depth, node->attributes); }) ||
      !shorthand(place, "role", "AXRole", Text::string, depth, *node) ||
      !shorthand(place, "url", "AXURL", Text::url, depth, *node)) {
    return false;
  }
  if (const std::optional<Place> children = place.member("children")) {
    if (children->json().is_array()) {
      if (node->attributes.count("AXChildren") != 0) {
        return place.problemAt(place.memberPointer("attributes") + "/AXChildren",
                               "expected AXChildren only once, found it also as \"children\"");
      }
      if (!readElements(*children, depth, node->children)) return false;
    } else if (!shorthand(place, "children", "AXChildren", Text::string, depth, *node)) {
      return false;
    }
  }
  out = std::move(node);
  return true;
}

bool readSwitch(const Place& place, sim::ax::Switch& out) {
  if (!place.object({"value", "settable", "refusal"})) return false;
  const auto value = [&](const Place& p) { return readAnswer(p, Text::string, 0, out.read); };
  const auto settable = [&](const Place& p) { return readBool(p, out.settable); };
  const auto refusal = [&](const Place& p) { return readErrorCode(p, out.refusal); };
  return optionalMember(place, "value", value) && optionalMember(place, "settable", settable) &&
         optionalMember(place, "refusal", refusal);
}

// The further attributes of an application element. The application answers
// its windows and switches from its own keys, so they cannot be given here.
bool readApplicationAttributes(const Place& place, Attributes& out) {
  if (!readAttributes(place, 0, out)) return false;
  constexpr std::pair<std::string_view, std::string_view> own[] = {
      {"AXWindows", "windows"},
      {"AXManualAccessibility", "manualAccessibility"},
      {"AXEnhancedUserInterface", "enhancedUserInterface"}};
  for (const auto& [name, key] : own) {
    if (out.count(name) == 0) continue;
    return place.problemAt(place.memberPointer(name), "expected another attribute; give " +
                                                          std::string(name) + " with \"" +
                                                          std::string(key) + "\"");
  }
  return true;
}

bool readApplication(const Place& place, sim::ax::Application& out) {
  if (!place.object({"pid", "manualAccessibility", "enhancedUserInterface", "windows",
                     "windowsFromWalk", "windowsNeedSwitch", "attributes"})) {
    return false;
  }
  const auto pid = [&](const Place& p) { return readPid(p, 1, out.pid); };
  const auto manual = [&](const Place& p) { return readSwitch(p, out.manualAccessibility); };
  const auto enhanced = [&](const Place& p) { return readSwitch(p, out.enhancedUserInterface); };
  const auto windows = [&](const Place& p) {
    if (p.json().is_array()) return readElements(p, 0, out.windows);
    return readAnswer(p, Text::string, 0, out.windowsRead.emplace());
  };
  const auto fromWalk = [&](const Place& p) {
    std::int64_t walk = 0;
    if (!readWhole(p, 1, 1'000'000'000, "a walk number", walk)) return false;
    out.windowsFromWalk = static_cast<long>(walk);
    return true;
  };
  const auto needSwitch = [&](const Place& p) { return readBool(p, out.windowsNeedSwitch); };
  const auto attributes = [&](const Place& p) {
    return readApplicationAttributes(p, out.attributes);
  };
  return requiredMember(place, "pid", "a pid", pid) &&
         optionalMember(place, "manualAccessibility", manual) &&
         optionalMember(place, "enhancedUserInterface", enhanced) &&
         optionalMember(place, "windows", windows) &&
         optionalMember(place, "windowsFromWalk", fromWalk) &&
         optionalMember(place, "windowsNeedSwitch", needSwitch) &&
         optionalMember(place, "attributes", attributes);
}

}  // namespace

bool readAccessibility(const Place& accessibility, Scenario& scenario) {
  return accessibility.object({"trusted", "applications"}) &&
         optionalMember(accessibility, "trusted",
                        [&](const Place& p) { return readBool(p, scenario.trusted); }) &&
         optionalMember(accessibility, "applications", [&](const Place& p) {
           return readPidList(p, "accessibility application", scenario.accessibility,
                              readApplication);
         });
}
