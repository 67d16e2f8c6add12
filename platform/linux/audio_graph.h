// What the agent keeps of PipeWire's object graph, and how the audio
// questions are answered from it. Pure data and functions: the connection
// (pipewire_connection.cpp) fills a Graph from the registry, and the answers
// come from the View made of it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio.h"

namespace pwaudio {

// The audio object id the agent gives a node. PipeWire reuses the ids of its
// objects; these are never reused (a new node always gets a fresh one), and
// never 0 (no object) or 1 (the audio system itself).
using ObjectId = std::uint32_t;

struct Node {
  ObjectId object = 0;
  std::string mediaClass;
  std::string name;                     // node.name
  bool running = false;                 // state "running"
  std::optional<std::uint32_t> client;  // client.id
  // Kept by noteCaptures: whether the node captured from an audio source when
  // last looked at, how often it started to since the last takeStarts, and
  // its pid when it last started (its client may be gone by the time anyone
  // asks).
  bool capturing = false;
  std::uint32_t starts = 0;
  std::optional<pid_t> pidAtStart;
};

// A capture stream that went away after starting since the last takeStarts.
struct GoneCapture {
  ObjectId object = 0;
  std::optional<pid_t> pid;
  std::uint32_t starts = 0;
};

struct Client {
  std::optional<pid_t> processId;  // application.process.id: what the client says of itself
  std::optional<pid_t> securePid;  // pipewire.sec.pid: the peer of its socket, recorded by PipeWire
  // Whether that peer runs a program that connects on behalf of others (see
  // isProxyProgram).
  bool proxy = false;
};

struct Link {
  std::uint32_t outputNode = 0;
  std::uint32_t inputNode = 0;
};

// Keyed by PipeWire's global ids.
struct Graph {
  std::map<std::uint32_t, Node> nodes;
  std::map<std::uint32_t, Client> clients;
  std::map<std::uint32_t, Link> links;
  std::optional<std::string> defaultSource;  // node.name from the "default" metadata
  // In the order they went.
  std::vector<GoneCapture> gone;
};

struct ProcessObject {
  ObjectId object = 0;
  std::optional<pid_t> pid;
  bool runningInput = false;
  // Starts since the last takeStarts.
  std::uint32_t starts = 0;

  bool operator==(const ProcessObject& other) const {
    return object == other.object && pid == other.pid && runningInput == other.runningInput &&
           starts == other.starts;
  }
};

struct View {
  // Capture streams fed from an audio source, in PipeWire's id order; then
  // those that started capturing since the last takeStarts and are no longer
  // fed from one, and those that went since, in the order they went.
  std::vector<ProcessObject> processes;
  // The default source's object, 0 when there is none.
  ObjectId defaultInput = 0;
  // Every node's object and whether it runs.
  std::map<ObjectId, bool> nodeRunning;
};

// Whether a node of this media class produces audio from an input device
// (a microphone, a virtual source), rather than from what something plays.
bool isAudioSource(std::string_view mediaClass);

// Whether a program, by the path of its executable, connects to PipeWire on
// behalf of other processes: PipeWire's own program (which serves PulseAudio
// clients when run as pipewire-pulse) and the desktop portal.
bool isProxyProgram(std::string_view executable);

// The pid a capture stream belongs to. Only what PipeWire recorded counts:
// the peer of the client's socket. A client whose peer is a proxy speaks for
// another process, and then the pid that proxy recorded for its client (its
// application.process.id) is taken, but never the proxy's own. What a client
// or its nodes say of themselves is not believed otherwise.
std::optional<pid_t> streamPid(const Graph& graph, const Node& node);

// Builds the view: process objects are nodes of class "Stream/Input/Audio"
// that a link feeds from an audio source (a capture of a sink's monitor is not
// the microphone), with the pid of streamPid; one is running input when the
// node runs. Those that started capturing since the last takeStarts are
// listed too, also once they are no longer fed or gone, with their starts.
View buildView(const Graph& graph);

// Appends the gone captures, as the view lists them: not capturing, with the
// starts they made. All there is to answer while no connection is ready.
void appendGoneCaptures(const Graph& graph, std::vector<ProcessObject>& processes);

// Whether a node captures from an audio source now: a running
// "Stream/Input/Audio" node that a link feeds from one.
bool capturesNow(const Graph& graph, std::uint32_t id);

// Looks again, after a change to node `id` or to the links into it, at
// whether it and every node it feeds capture now, counting each start.
// PipeWire tells of every change, so a capture that starts and stops between
// two looks at the answers is still counted. True when any node's capture
// state changed.
bool noteCaptures(Graph& graph, std::uint32_t id);

// Removes node `id`: one that started capturing since the last takeStarts is
// kept among the gone; the nodes it fed no longer capture. True when the
// graph had the node.
bool removeNode(Graph& graph, std::uint32_t id);

// Removes link `id`; the node it fed may no longer capture. True when the
// graph had the link.
bool removeLink(Graph& graph, std::uint32_t id);

// Forgets every start counted so far and the gone captures: what has been
// answered is not news again. True when there was anything to forget.
bool takeStarts(Graph& graph);

// Keeps only what was counted and not yet taken: the starts of every node,
// as gone captures, for when the whole graph is lost with its connection.
void keepOnlyStarts(Graph& graph);

// The value of a property written as text ("1234"); nothing for anything that
// is not a positive pid.
std::optional<pid_t> parsePid(const char* text);

// The "name" of a default-node metadata value such as {"name":"alsa_input.x"}.
std::optional<std::string> defaultNodeName(std::string_view json);

// The capture streams of the view, in its order, each with everything known
// of it: the stream id is the node's object.
void captureStreams(const View& view, std::vector<platform::audio::CaptureStream>& streams);

// Whether the answers of two views differ.
bool sameAnswers(const View& a, const View& b);

// Whether the default source runs: false without one; absent when the default
// names a node the view does not have.
std::optional<bool> defaultInputRunning(const View& view);

}  // namespace pwaudio
