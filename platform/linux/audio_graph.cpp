#include "platform/linux/audio_graph.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

namespace pwaudio {

bool isAudioSource(std::string_view mediaClass) {
  return mediaClass == "Audio/Source" || mediaClass.substr(0, 13) == "Audio/Source/" ||
         mediaClass == "Audio/Duplex";
}

bool isProxyProgram(std::string_view executable) {
  const std::size_t slash = executable.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? executable : executable.substr(slash + 1);
  return name == "pipewire" || name == "pipewire-pulse" || name == "xdg-desktop-portal";
}

std::optional<pid_t> streamPid(const Graph& graph, const Node& node) {
  if (!node.client) return std::nullopt;
  const auto found = graph.clients.find(*node.client);
  if (found == graph.clients.end()) return std::nullopt;
  const Client& client = found->second;
  if (!client.securePid) return std::nullopt;
  if (!client.proxy) return client.securePid;
  if (client.processId && *client.processId != *client.securePid) return client.processId;
  return std::nullopt;
}

View buildView(const Graph& graph) {
  View view;
  std::set<std::uint32_t> fedFromSource;
  for (const auto& [id, link] : graph.links) {
    const auto output = graph.nodes.find(link.outputNode);
    if (output != graph.nodes.end() && isAudioSource(output->second.mediaClass)) {
      fedFromSource.insert(link.inputNode);
    }
  }
  for (const auto& [id, node] : graph.nodes) {
    view.nodeRunning.emplace(node.object, node.running);
    if (graph.defaultSource && node.name == *graph.defaultSource && view.defaultInput == 0) {
      view.defaultInput = node.object;
    }
    if (node.mediaClass != "Stream/Input/Audio" || fedFromSource.count(id) == 0) continue;
    view.processes.push_back(ProcessObject{node.object, streamPid(graph, node), node.running});
  }
  return view;
}

std::optional<pid_t> parsePid(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > INT_MAX) return std::nullopt;
  return static_cast<pid_t>(value);
}

std::optional<std::string> defaultNodeName(std::string_view json) {
  // The values are small objects written by the session manager, in JSON or
  // PipeWire's relaxed form of it (bare keys, "=" for ":"). Only the top
  // level's "name" string is wanted.
  std::size_t at = 0;
  const auto skipSpace = [&] {
    while (at < json.size() && std::strchr(" \t\r\n,", json[at]) != nullptr) ++at;
  };
  const auto readString = [&](std::string& out) {
    // at is on the opening quote
    ++at;
    while (at < json.size() && json[at] != '"') {
      if (json[at] == '\\' && at + 1 < json.size()) ++at;
      out += json[at++];
    }
    if (at >= json.size()) return false;
    ++at;
    return true;
  };
  const auto readBare = [&](std::string& out) {
    while (at < json.size() && std::strchr(" \t\r\n,:=}]", json[at]) == nullptr) out += json[at++];
    return !out.empty();
  };
  const auto skipValue = [&] {
    std::string ignored;
    if (json[at] == '"') return readString(ignored);
    if (json[at] != '{' && json[at] != '[') return readBare(ignored);
    int depth = 0;
    while (at < json.size()) {
      const char c = json[at];
      if (c == '"') {
        if (!readString(ignored)) return false;
        continue;
      }
      ++at;
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return true;
    }
    return false;
  };
  skipSpace();
  if (at >= json.size() || json[at] != '{') return std::nullopt;
  ++at;
  while (true) {
    skipSpace();
    if (at >= json.size() || json[at] == '}') return std::nullopt;
    std::string key;
    if (json[at] == '"' ? !readString(key) : !readBare(key)) return std::nullopt;
    skipSpace();
    if (at >= json.size() || (json[at] != ':' && json[at] != '=')) return std::nullopt;
    ++at;
    skipSpace();
    if (at >= json.size()) return std::nullopt;
    if (key == "name") {
      std::string value;
      if (json[at] == '"' ? !readString(value) : !readBare(value)) return std::nullopt;
      if (value.empty()) return std::nullopt;
      return value;
    }
    if (!skipValue()) return std::nullopt;
  }
}

void captureStreams(const View& view, std::vector<platform::audio::CaptureStream>& streams) {
  streams.clear();
  streams.reserve(view.processes.size());
  for (const ProcessObject& process : view.processes) {
    streams.push_back({process.object, process.pid, process.runningInput});
  }
}

std::optional<bool> defaultInputRunning(const View& view) {
  if (view.defaultInput == 0) return false;
  const auto node = view.nodeRunning.find(view.defaultInput);
  if (node == view.nodeRunning.end()) return std::nullopt;
  return node->second;
}

}  // namespace pwaudio
