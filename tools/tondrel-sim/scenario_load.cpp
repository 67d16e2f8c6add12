// Reading a scenario file: the bytes, the JSON text (with duplicate keys
// refused, since the parser would otherwise keep the last one silently), and
// the sections.
#include "place.h"
#include "scenario.h"
#include "sections.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far beyond any hand-written or generated scenario, but a bound all the
// same, so a path to an endless device or a huge file is refused instead of
// read until memory runs out.
constexpr std::size_t largestFile = std::size_t{64} << 20;

class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

const char* kindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string tooLarge(const std::string& found) {
  return "expected at most 64 MiB (" + std::to_string(largestFile) + " bytes), found " + found;
}

std::optional<std::string> readFile(const std::string& path, std::string& why) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer, maybe for ever; it
  // is refused below by what the open descriptor is, which no rename between
  // a check and the open can change.
  const Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  struct stat status {};
  if (fstat(file.get(), &status) != 0) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    why = std::string("expected a regular file, found ") + kindOfFile(status.st_mode);
    return std::nullopt;
  }
  if (static_cast<std::uintmax_t>(status.st_size) > largestFile) {
    why = tooLarge(std::to_string(status.st_size) + " bytes");
    return std::nullopt;
  }
  // The size is only a hint (the file may grow, and files under /proc say
  // 0): read up to one byte past the limit, whatever it said.
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(status.st_size));
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = read(file.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      why = std::strerror(errno);
      return std::nullopt;
    }
    if (count == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
    if (bytes.size() > largestFile) {
      why = tooLarge("more");
      return std::nullopt;
    }
  }
  return bytes;
}

using Json = nlohmann::json;

// A string from the file, cut for a message.
std::string cut(const std::string& text) {
  constexpr std::size_t longest = 60;
  return text.size() > longest ? text.substr(0, longest) + "..." : text;
}

// Builds the document as the parser reads it, in one pass, and knows at every
// step the JSON pointer of where it is, so a key given twice and a number out
// of range can be named by their place.
class DocumentBuilder final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return add(nullptr); }
  bool boolean(bool value) override { return add(value); }
  bool number_integer(number_integer_t value) override { return add(value); }
  bool number_unsigned(number_unsigned_t value) override { return add(value); }
  bool number_float(number_float_t value, const string_t&) override { return add(value); }
  bool string(string_t& value) override { return add(std::move(value)); }
  bool binary(binary_t& value) override { return add(Json::binary(std::move(value))); }

  bool start_object(std::size_t) override { return open(Json::object()); }
  bool start_array(std::size_t) override { return open(Json::array()); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& key) override {
    Frame& top = frames_.back();
    // The object built so far holds the keys seen so far: a lookup in it is
    // the check, at no cost beyond the insertion that follows.
    if (top.value->contains(key) && duplicate_.empty()) duplicate_ = pointerTo(key);
    top.key = std::move(key);
    return true;
  }

  bool parse_error(std::size_t, const std::string& token,
                   const nlohmann::json::exception& error) override {
    // A number that no double holds (1e400, an integer of hundreds of
    // digits) is valid JSON but no value here: named by its place, as a
    // value of the wrong kind is.
    constexpr int numberOverflow = 406;
    if (error.id == numberOverflow) {
      const Frame* top = frames_.empty() ? nullptr : &frames_.back();
      pointer_ = top == nullptr           ? std::string()
                 : top->value->is_array() ? pointerTo(std::to_string(top->value->size()))
                                          : pointerTo(top->key);
      error_ = "expected a number within the range of a double, found " + cut(token);
      return false;
    }
    error_ = syntaxMessage(error.what());
    syntax_ = true;
    return false;
  }

  Json& document() { return document_; }
  // After a failed parse: a syntax error ("line L, column C: reason"), or the
  // problem at pointer().
  bool syntaxError() const { return syntax_; }
  const std::string& error() const { return error_; }
  const std::string& pointer() const { return pointer_; }
  // The first key given twice, if any.
  const std::string& duplicate() const { return duplicate_; }

 private:
  struct Frame {
    Json* value;
    // The key of the member being read, in an object.
    std::string key;
  };

  // Places a value where the parser is: the document itself, the next item
  // of an array or the member of the last key. Answers where it went.
  template <typename Value>
  Json* place(Value&& value) {
    if (frames_.empty()) {
      document_ = std::forward<Value>(value);
      return &document_;
    }
    Frame& top = frames_.back();
    if (top.value->is_array()) {
      top.value->push_back(Json(std::forward<Value>(value)));
      return &top.value->back();
    }
    Json& member = (*top.value)[top.key];
    member = std::forward<Value>(value);
    return &member;
  }

  template <typename Value>
  bool add(Value&& value) {
    place(std::forward<Value>(value));
    return true;
  }

  // The containers on the stack stay where they are: only the innermost one
  // grows, and it holds none of the others.
  bool open(Json&& container) {
    frames_.push_back({place(std::move(container)), {}});
    return true;
  }

  bool close() {
    frames_.pop_back();
    return true;
  }

  // The pointer of a member or item of the innermost container.
  std::string pointerTo(const std::string& last) const {
    std::string out;
    for (std::size_t i = 0; i < frames_.size(); ++i) {
      const Frame& frame = frames_[i];
      out += '/';
      if (i + 1 == frames_.size()) {
        out += frame.value->is_array() ? last : escapedKey(last);
      } else if (frame.value->is_array()) {
        out += std::to_string(frame.value->size() - 1);
      } else {
        out += escapedKey(frame.key);
      }
    }
    return out;
  }

  // The parser's message reads "[json.exception...] parse error at line L,
  // column C: reason"; answers "line L, column C: reason".
  static std::string syntaxMessage(const std::string& what) {
    const std::string marker = "parse error at ";
    const std::size_t at = what.find(marker);
    if (at != std::string::npos) return what.substr(at + marker.size());
    const std::size_t bracket = what.find("] ");
    return bracket == std::string::npos ? what : what.substr(bracket + 2);
  }

  Json document_;
  std::vector<Frame> frames_;
  bool syntax_ = false;
  std::string error_;
  std::string pointer_;
  std::string duplicate_;
};

std::string placeName(const std::string& pointer) {
  return pointer.empty() ? "at the top level" : "at " + pointer;
}

}  // namespace

LoadedScenario loadScenario(const std::string& path) {
  std::string why;
  const std::optional<std::string> text = readFile(path, why);
  if (!text) return {std::nullopt, path + ": cannot read the scenario: " + why};

  DocumentBuilder builder;
  if (!nlohmann::json::sax_parse(*text, &builder)) {
    if (builder.syntaxError()) return {std::nullopt, path + ": invalid JSON at " + builder.error()};
    return {std::nullopt, path + ": " + placeName(builder.pointer()) + ": " + builder.error()};
  }
  if (!builder.duplicate().empty()) {
    return {std::nullopt, path + ": at " + builder.duplicate() +
                              ": key given twice; expected each key once per object"};
  }
  const nlohmann::json& document = builder.document();

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
