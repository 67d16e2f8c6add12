// Reading a scenario file: the bytes, the JSON text (with duplicate keys
// refused, since the parser would otherwise keep the last one silently), and
// the sections.
#include "place.h"
#include "scenario.h"
#include "sections.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::optional<std::string> readFile(const std::string& path, std::string& why) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[64 * 1024];
  for (;;) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    bytes.append(buffer, count);
    if (count < sizeof buffer) break;
  }
  // A directory opens fine and fails only here.
  if (std::ferror(file.get())) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  return bytes;
}

// Follows the parser's events to know where it is, so a key given twice can
// be named by its JSON pointer.
class DuplicateKeys {
 public:
  bool event(nlohmann::json::parse_event_t event, const nlohmann::json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    switch (event) {
      case Event::object_start:
      case Event::array_start:
        countItem();
        frames_.push_back({event == Event::object_start, {}, {}, 0});
        break;
      case Event::object_end:
      case Event::array_end:
        frames_.pop_back();
        break;
      case Event::key: {
        Frame& top = frames_.back();
        top.key = parsed.get<std::string>();
        if (!top.keys.insert(top.key).second && pointer_.empty()) pointer_ = here();
        break;
      }
      case Event::value:
        countItem();
        break;
    }
    return true;
  }

  // The first key given twice, if any.
  const std::string& pointer() const { return pointer_; }

 private:
  struct Frame {
    bool object;
    std::set<std::string> keys;
    std::string key;
    std::size_t items;
  };

  void countItem() {
    if (!frames_.empty() && !frames_.back().object) ++frames_.back().items;
  }

  std::string here() const {
    std::string out;
    for (const Frame& frame : frames_) {
      out += '/';
      if (!frame.object) {
        out += std::to_string(frame.items - 1);
        continue;
      }
      out += escapedKey(frame.key);
    }
    return out;
  }

  std::vector<Frame> frames_;
  std::string pointer_;
};

// The parser's message reads "[json.exception...] parse error at line L,
// column C: reason"; answers "line L, column C: reason".
std::string parserMessage(const std::string& what) {
  const std::string marker = "parse error at ";
  const std::size_t at = what.find(marker);
  if (at != std::string::npos) return what.substr(at + marker.size());
  const std::size_t bracket = what.find("] ");
  return bracket == std::string::npos ? what : what.substr(bracket + 2);
}

std::string placeName(const std::string& pointer) {
  return pointer.empty() ? "at the top level" : "at " + pointer;
}

}  // namespace

LoadedScenario loadScenario(const std::string& path) {
  std::string why;
  const std::optional<std::string> text = readFile(path, why);
  if (!text) return {std::nullopt, path + ": cannot read the scenario: " + why};

  DuplicateKeys duplicates;
  nlohmann::json document;
  // The parser reports syntax errors only by throwing; they are caught here.
  try {
    document = nlohmann::json::parse(
        *text, [&duplicates](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
          return duplicates.event(event, parsed);
        });
  } catch (const nlohmann::json::parse_error& error) {
    return {std::nullopt, path + ": invalid JSON at " + parserMessage(error.what())};
  }
  if (!duplicates.pointer().empty()) {
    return {std::nullopt, path + ": at " + duplicates.pointer() +
                              ": key given twice; expected each key once per object"};
  }

  Problem problem;
  const Place top(document, "", problem);
  Scenario scenario;
  const bool read =
      top.object({"description", "osVersion", "responsibleFunction", "processes", "applications",
                  "audio", "accessibility"}) &&
      optionalMember(top, "description",
                     [](const Place& place) {
                       std::string ignored;
                       return readString(place, ignored);
                     }) &&
      readSystem(top, scenario) &&
      optionalMember(top, "audio",
                     [&scenario](const Place& place) { return readAudio(place, scenario); }) &&
      optionalMember(top, "accessibility", [&scenario](const Place& place) {
        return readAccessibility(place, scenario);
      });
  if (!read) {
    return {std::nullopt, path + ": " + placeName(problem.pointer) + ": " + problem.text};
  }
  return {std::move(scenario), {}};
}
