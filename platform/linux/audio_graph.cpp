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

namespace {

constexpr std::string_view captureClass = "Stream/Input/Audio";

bool fedFromSource(const Graph& graph, std::uint32_t id) {
  for (const auto& [linkId, link] : graph.links) {
    if (link.inputNode != id) continue;
    const auto output = graph.nodes.find(link.outputNode);
    if (output != graph.nodes.end() && isAudioSource(output->second.mediaClass)) return true;
  }
  return false;
}

// The pid to give for a capture stream: what the graph says now, else what it
// said when the stream last started.
std::optional<pid_t> capturePid(const Graph& graph, const Node& node) {
  if (const auto pid = streamPid(graph, node)) return pid;
  return node.pidAtStart;
}

}  // namespace

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
    if (node.mediaClass != captureClass) continue;
    const bool fed = fedFromSource.count(id) != 0;
    if (!fed && node.starts == 0) continue;
    view.processes.push_back(
        ProcessObject{node.object, capturePid(graph, node), fed && node.running, node.starts});
  }
  appendGoneCaptures(graph, view.processes);
  return view;
}

void appendGoneCaptures(const Graph& graph, std::vector<ProcessObject>& processes) {
  for (const GoneCapture& gone : graph.gone) {
    processes.push_back(ProcessObject{gone.object, gone.pid, false, gone.starts});
  }
}

bool capturesNow(const Graph& graph, std::uint32_t id) {
  const auto node = graph.nodes.find(id);
  return node != graph.nodes.end() && node->second.running &&
         node->second.mediaClass == captureClass && fedFromSource(graph, id);
}

bool noteCaptures(Graph& graph, std::uint32_t id) {
  bool changed = false;
  const auto look = [&graph, &changed](std::uint32_t nodeId) {
    const auto found = graph.nodes.find(nodeId);
    if (found == graph.nodes.end()) return;
    Node& node = found->second;
    const bool now = capturesNow(graph, nodeId);
    if (now == node.capturing) return;
    node.capturing = now;
    changed = true;
    if (!now) return;
    ++node.starts;
    if (const auto pid = streamPid(graph, node)) node.pidAtStart = pid;
  };
  look(id);
  // A source that appears, goes or changes class changes what it feeds.
  for (const auto& [linkId, link] : graph.links) {
    if (link.outputNode == id && link.inputNode != id) look(link.inputNode);
  }
  return changed;
}

bool removeNode(Graph& graph, std::uint32_t id) {
  const auto found = graph.nodes.find(id);
  if (found == graph.nodes.end()) return false;
  const Node& node = found->second;
  if (node.starts > 0) graph.gone.push_back({node.object, capturePid(graph, node), node.starts});
  graph.nodes.erase(found);
  std::vector<std::uint32_t> fed;
  for (const auto& [linkId, link] : graph.links) {
    if (link.outputNode == id) fed.push_back(link.inputNode);
  }
  for (const std::uint32_t input : fed) noteCaptures(graph, input);
  return true;
}

bool removeLink(Graph& graph, std::uint32_t id) {
  const auto found = graph.links.find(id);
  if (found == graph.links.end()) return false;
  const std::uint32_t input = found->second.inputNode;
  graph.links.erase(found);
  noteCaptures(graph, input);
  return true;
}

bool takeStarts(Graph& graph) {
  bool any = !graph.gone.empty();
  graph.gone.clear();
  for (auto& [id, node] : graph.nodes) {
    if (node.starts == 0) continue;
    node.starts = 0;
    any = true;
  }
  return any;
}

void keepOnlyStarts(Graph& graph) {
  for (const auto& [id, node] : graph.nodes) {
    if (node.starts > 0) graph.gone.push_back({node.object, capturePid(graph, node), node.starts});
  }
  std::vector<GoneCapture> gone = std::move(graph.gone);
  graph = Graph{};
  graph.gone = std::move(gone);
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
    streams.push_back({process.object, process.pid, process.runningInput, process.starts});
  }
}

bool sameAnswers(const View& a, const View& b) {
  return a.processes == b.processes && defaultInputRunning(a) == defaultInputRunning(b);
}

std::optional<bool> defaultInputRunning(const View& view) {
  if (view.defaultInput == 0) return false;
  const auto node = view.nodeRunning.find(view.defaultInput);
  if (node == view.nodeRunning.end()) return std::nullopt;
  return node->second;
}

}  // namespace pwaudio
