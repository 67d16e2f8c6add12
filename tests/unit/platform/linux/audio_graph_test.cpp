// PipeWire's graph as the audio answers see it: which streams capture, whose
// pid they carry, and whether the default input runs.
#include "platform/linux/audio_graph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <optional>
#include <vector>

using namespace pwaudio;

namespace {

// A graph with a microphone (30), a virtual source (31), a speaker (32), and
// clients for a native recorder (40), a PulseAudio client through the
// PulseAudio server, pid 4100 (41), and a client that names no pid of its
// own (42).
Node makeNode(ObjectId object, const char* mediaClass, const char* name, bool running,
              std::optional<std::uint32_t> client) {
  Node node;
  node.object = object;
  node.mediaClass = mediaClass;
  node.name = name;
  node.running = running;
  node.client = client;
  return node;
}

Graph baseGraph() {
  Graph graph;
  graph.nodes[30] = makeNode(100, "Audio/Source", "mic", true, std::nullopt);
  graph.nodes[31] = makeNode(101, "Audio/Source/Virtual", "virtual", false, std::nullopt);
  graph.nodes[32] = makeNode(102, "Audio/Sink", "speaker", true, std::nullopt);
  graph.clients[40] = Client{4000, 4000, false};
  graph.clients[41] = Client{5100, 4100, true};
  graph.clients[42] = Client{std::nullopt, 4200, false};
  return graph;
}

void addStream(Graph& graph, std::uint32_t id, ObjectId object, bool running,
               std::optional<std::uint32_t> client, const char* mediaClass = "Stream/Input/Audio") {
  graph.nodes[id] = makeNode(object, mediaClass, "stream", running, client);
}

void link(Graph& graph, std::uint32_t id, std::uint32_t from, std::uint32_t to) {
  graph.links[id] = Link{from, to};
}

TEST(PipeWireView, ProcessObjectsAreCapturesFedFromASource) {
  Graph graph = baseGraph();
  addStream(graph, 50, 200, true, 40);                         // native recorder on the mic
  addStream(graph, 51, 201, true, 41);                         // PulseAudio client
  addStream(graph, 52, 202, true, 41);                         // capture of the speaker's monitor
  addStream(graph, 53, 203, false, 42);                        // on the virtual source, idle
  addStream(graph, 54, 204, true, 40);                         // not linked (yet)
  addStream(graph, 55, 205, true, 40, "Stream/Output/Audio");  // playback
  addStream(graph, 56, 206, true, 99);                         // client not (yet) known
  link(graph, 60, 30, 50);
  link(graph, 61, 30, 50);  // a second channel: still one object
  link(graph, 62, 30, 51);
  link(graph, 63, 32, 52);
  link(graph, 64, 31, 53);
  link(graph, 65, 30, 55);
  link(graph, 66, 30, 56);
  link(graph, 67, 77, 54);  // from a node that is not (yet) known

  const View view = buildView(graph);
  struct Expected {
    ObjectId object;
    std::optional<pid_t> pid;
    bool running;
  };
  const std::vector<Expected> expected = {
      {200, 4000, true}, {201, 5100, true}, {203, 4200, false}, {206, std::nullopt, true}};
  ASSERT_EQ(view.processes.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(view.processes[i].object, expected[i].object) << i;
    EXPECT_EQ(view.processes[i].pid, expected[i].pid) << i;
    EXPECT_EQ(view.processes[i].runningInput, expected[i].running) << i;
  }
}

TEST(PipeWireView, PidsFromCredentialsNotClaims) {
  // What PipeWire recorded for the connection wins; a proxy's client is
  // believed for the process it speaks for, never for the proxy itself.
  struct Case {
    const char* what;
    std::optional<Client> client;
    std::optional<pid_t> pid;
  };
  const std::vector<Case> cases = {
      {"native client telling the truth", Client{4300, 4300, false}, 4300},
      {"native client claiming another pid", Client{1, 4300, false}, 4300},
      {"native client claiming nothing", Client{std::nullopt, 4300, false}, 4300},
      {"proxy's client", Client{5000, 4100, true}, 5000},
      {"proxy's client naming the proxy", Client{4100, 4100, true}, std::nullopt},
      {"proxy's client with no pid (not a number)", Client{std::nullopt, 4100, true}, std::nullopt},
      {"no recorded peer", Client{4300, std::nullopt, false}, std::nullopt},
      {"no recorded peer, marked proxy", Client{4300, std::nullopt, true}, std::nullopt},
      {"client not (yet) known", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    Graph graph = baseGraph();
    if (c.client) graph.clients[43] = *c.client;
    addStream(graph, 50, 200, true, 43);
    link(graph, 60, 30, 50);
    const View view = buildView(graph);
    ASSERT_EQ(view.processes.size(), 1U) << c.what;
    EXPECT_EQ(view.processes[0].pid, c.pid) << c.what;
  }
  // A node without a client has no pid.
  Graph graph = baseGraph();
  addStream(graph, 50, 200, true, std::nullopt);
  link(graph, 60, 30, 50);
  EXPECT_EQ(buildView(graph).processes.at(0).pid, std::nullopt);
}

TEST(PipeWireView, ProxiesByTheirExecutable) {
  for (const char* path : {"/usr/bin/pipewire", "/usr/bin/pipewire-pulse", "pipewire-pulse",
                           "/usr/libexec/xdg-desktop-portal"}) {
    EXPECT_TRUE(isProxyProgram(path)) << path;
  }
  for (const char* path :
       {"", "/usr/bin/pw-cat", "/opt/pipewire/pw-cat", "/usr/bin/pipewire-pulse2",
        "/usr/libexec/xdg-desktop-portal-gtk", "/usr/bin/python3"}) {
    EXPECT_FALSE(isProxyProgram(path)) << path;
  }
}

TEST(PipeWireView, DefaultInputByName) {
  Graph graph = baseGraph();
  EXPECT_EQ(buildView(graph).defaultInput, 0U);
  graph.defaultSource = "virtual";
  EXPECT_EQ(buildView(graph).defaultInput, 101U);
  graph.defaultSource = "gone";
  EXPECT_EQ(buildView(graph).defaultInput, 0U);
}

TEST(PipeWireView, MediaClassesOfSources) {
  EXPECT_TRUE(isAudioSource("Audio/Source"));
  EXPECT_TRUE(isAudioSource("Audio/Source/Virtual"));
  EXPECT_TRUE(isAudioSource("Audio/Duplex"));
  EXPECT_FALSE(isAudioSource("Audio/Sink"));
  EXPECT_FALSE(isAudioSource("Audio/SourceX"));
  EXPECT_FALSE(isAudioSource("Stream/Output/Audio"));
  EXPECT_FALSE(isAudioSource("Video/Source"));
}

TEST(PipeWireProps, PidsAndDefaultNames) {
  EXPECT_EQ(parsePid("1234"), 1234);
  EXPECT_EQ(parsePid("2147483647"), 2147483647);
  for (const char* bad : {"0", "-5", "12x", "", " 12", "2147483648", "99999999999999999999"}) {
    EXPECT_FALSE(parsePid(bad)) << bad;
  }
  EXPECT_FALSE(parsePid(nullptr));

  struct Case {
    const char* json;
    std::optional<std::string> name;
  };
  const std::vector<Case> cases = {
      {R"({"name":"alsa_input.pci"})", "alsa_input.pci"},
      {R"({ "name": "tondrel-mic" })", "tondrel-mic"},
      {R"({"other":{"name":"inner"},"list":[1,"]"],"name":"outer"})", "outer"},
      {R"({ name = "relaxed" })", "relaxed"},
      {R"({"name":"with \"quote\""})", "with \"quote\""},
      {R"({"name":""})", std::nullopt},
      {R"({"nam":"x"})", std::nullopt},
      {R"("name")", std::nullopt},
      {R"({"name":"unterminated)", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(defaultNodeName(c.json), c.name) << c.json;
}

TEST(PipeWireAnswers, CaptureStreamsCarryEverythingKnown) {
  Graph graph = baseGraph();
  addStream(graph, 50, 200, true, 40);
  addStream(graph, 51, 201, false, 42);
  addStream(graph, 52, 202, true, 40);  // fed by nothing: not listed
  link(graph, 60, 30, 50);
  link(graph, 61, 30, 51);
  graph.clients[42].securePid.reset();  // 201 has no pid
  const View view = buildView(graph);

  // The caller's vector is replaced, not appended to.
  std::vector<platform::audio::CaptureStream> streams(3);
  captureStreams(view, streams);
  ASSERT_EQ(streams.size(), 2U);
  EXPECT_EQ(streams[0].id, 200U);
  EXPECT_EQ(streams[0].pid, std::optional<pid_t>(4000));
  EXPECT_EQ(streams[0].capturing, std::optional<bool>(true));
  EXPECT_EQ(streams[1].id, 201U);
  EXPECT_EQ(streams[1].pid, std::nullopt);
  EXPECT_EQ(streams[1].capturing, std::optional<bool>(false));

  captureStreams(buildView(Graph{}), streams);
  EXPECT_TRUE(streams.empty());
}

TEST(PipeWireAnswers, DefaultInputRunning) {
  struct Case {
    const char* what;
    std::optional<std::string> defaultSource;
    std::optional<bool> running;
  };
  const std::vector<Case> cases = {
      {"a running source", "mic", true},
      {"a suspended source", "virtual", false},
      {"no default source", std::nullopt, false},
      {"a default that names no node", "unplugged", false},
  };
  for (const Case& c : cases) {
    Graph graph = baseGraph();
    graph.defaultSource = c.defaultSource;
    EXPECT_EQ(defaultInputRunning(buildView(graph)), c.running) << c.what;
  }
  // A view whose default object has no node behind it cannot say.
  View view;
  view.defaultInput = 777;
  EXPECT_EQ(defaultInputRunning(view), std::nullopt);
}

// The graph changed as the connection changes it on each of PipeWire's
// events, and read as the monitor reads it at each poll.
struct Events {
  Graph graph = baseGraph();

  Events& stream(std::uint32_t id, ObjectId object, std::optional<std::uint32_t> client = 40) {
    addStream(graph, id, object, false, client);
    noteCaptures(graph, id);
    return *this;
  }
  Events& link(std::uint32_t id, std::uint32_t from, std::uint32_t to) {
    graph.links[id] = Link{from, to};
    noteCaptures(graph, to);
    return *this;
  }
  Events& state(std::uint32_t id, bool running) {
    graph.nodes.at(id).running = running;
    noteCaptures(graph, id);
    return *this;
  }
  Events& remove(std::uint32_t id) {
    if (!removeNode(graph, id) && !removeLink(graph, id)) graph.clients.erase(id);
    return *this;
  }
  std::vector<platform::audio::CaptureStream> poll() {
    std::vector<platform::audio::CaptureStream> streams;
    captureStreams(buildView(graph), streams);
    takeStarts(graph);
    return streams;
  }
};

struct Seen {
  ObjectId id;
  std::optional<pid_t> pid;
  bool capturing;
  std::uint32_t starts;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> seen(const std::vector<platform::audio::CaptureStream>& streams) {
  std::vector<Seen> out;
  for (const auto& stream : streams) {
    out.push_back({static_cast<ObjectId>(stream.id), stream.pid, stream.capturing.value_or(false),
                   stream.startsBetween});
  }
  return out;
}

void PrintTo(const Seen& s, std::ostream* os) {
  *os << "{" << s.id << ", pid " << (s.pid ? std::to_string(*s.pid) : "none") << ", "
      << (s.capturing ? "capturing" : "idle") << ", starts " << s.starts << "}";
}

TEST(PipeWireCaptures, WhatHappenedBetweenPollsIsCounted) {
  struct Case {
    const char* what;
    std::vector<Seen> (*run)(Events&);
    std::vector<Seen> next;  // the poll after
  };
  const std::vector<Case> cases = {
      {"started and stopped between two polls",
       [](Events& e) {
         e.stream(50, 200).link(60, 30, 50).poll();
         return seen(e.state(50, true).state(50, false).poll());
       },
       {{200, 4000, false, 0}}},
      {"came and went entirely between two polls, its client first",
       [](Events& e) {
         e.poll();
         e.stream(50, 200).link(60, 30, 50).state(50, true).state(50, false);
         return seen(e.remove(40).remove(60).remove(50).poll());
       },
       {}},
      {"unlinked from the source while still running",
       [](Events& e) {
         e.stream(50, 200).link(60, 30, 50).poll();
         return seen(e.state(50, true).remove(60).poll());
       },
       {}},
      {"stopped and started again while running at both polls",
       [](Events& e) {
         e.stream(50, 200).link(60, 30, 50).state(50, true).poll();
         return seen(e.state(50, false).state(50, true).poll());
       },
       {{200, 4000, true, 0}}},
      {"running before it is linked counts once linked",
       [](Events& e) {
         e.stream(50, 200).state(50, true).poll();
         return seen(e.link(60, 30, 50).link(61, 30, 50).poll());
       },
       {{200, 4000, true, 0}}},
      {"its source going away stops it",
       [](Events& e) {
         e.stream(50, 200).link(60, 30, 50).state(50, true).poll();
         return seen(e.remove(30).poll());
       },
       {}},
      {"a capture of a sink's monitor never counts",
       [](Events& e) {
         e.stream(50, 200).link(60, 32, 50).poll();
         return seen(e.state(50, true).state(50, false).poll());
       },
       {}},
      {"playback fed from the microphone never counts",
       [](Events& e) {
         addStream(e.graph, 55, 205, false, 40, "Stream/Output/Audio");
         e.link(60, 30, 55).poll();
         return seen(e.state(55, true).state(55, false).remove(55).poll());
       },
       {}},
      {"streams in id order, then the gone in the order they went",
       [](Events& e) {
         e.stream(52, 202).stream(51, 201).stream(50, 200, 41);
         e.link(60, 30, 50).link(61, 30, 51).link(62, 30, 52).poll();
         e.state(52, true).state(51, true).state(50, true).state(50, false);
         return seen(e.remove(52).remove(51).poll());
       },
       {{200, 5100, false, 0}}},
  };
  const std::vector<std::vector<Seen>> expected = {
      {{200, 4000, false, 1}},
      {{200, 4000, false, 1}},
      {{200, 4000, false, 1}},
      {{200, 4000, true, 1}},
      {{200, 4000, true, 1}},
      {},
      {},
      {},
      {{200, 5100, false, 1}, {202, 4000, false, 1}, {201, 4000, false, 1}},
  };
  ASSERT_EQ(cases.size(), expected.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    Events events;
    EXPECT_EQ(cases[i].run(events), expected[i]) << cases[i].what;
    EXPECT_EQ(seen(events.poll()), cases[i].next) << cases[i].what << ", the poll after";
  }
}

TEST(PipeWireCaptures, StartsAreCountedEachTime) {
  Events events;
  events.stream(50, 200).link(60, 30, 50).poll();
  for (int i = 0; i < 5; ++i) events.state(50, true).state(50, false);
  // Changes that do not touch its capture state count nothing.
  events.link(61, 30, 50).remove(61).state(50, false);
  EXPECT_EQ(seen(events.poll()), (std::vector<Seen>{{200, 4000, false, 5}}));
}

TEST(PipeWireCaptures, ALostConnectionKeepsOnlyWhatWasNotYetTold) {
  Events events;
  events.stream(50, 200).stream(51, 201, 42).stream(52, 202);
  events.link(60, 30, 50).link(61, 30, 51).link(62, 30, 52).state(52, true).poll();
  events.state(50, true).state(51, true).state(51, false);
  keepOnlyStarts(events.graph);
  EXPECT_TRUE(events.graph.nodes.empty());
  EXPECT_TRUE(events.graph.links.empty());
  EXPECT_TRUE(events.graph.clients.empty());
  // 202 was running at the last poll: its stop is the monitor's to find.
  const std::vector<GoneCapture>& gone = events.graph.gone;
  ASSERT_EQ(gone.size(), 2U);
  EXPECT_EQ(gone[0].object, 200U);
  EXPECT_EQ(gone[0].pid, std::optional<pid_t>(4000));
  EXPECT_EQ(gone[1].object, 201U);
  EXPECT_EQ(gone[1].pid, std::optional<pid_t>(4200));
  EXPECT_TRUE(takeStarts(events.graph));
  EXPECT_FALSE(takeStarts(events.graph));
}

TEST(PipeWireCaptures, AnswersCompareByWhatTheMonitorSees) {
  Events events;
  events.stream(50, 200).link(60, 30, 50);
  const View before = buildView(events.graph);
  EXPECT_TRUE(sameAnswers(before, buildView(events.graph)));
  // A change the monitor cannot see: a playback stream starting.
  addStream(events.graph, 55, 205, false, 40, "Stream/Output/Audio");
  events.state(55, true);
  EXPECT_TRUE(sameAnswers(before, buildView(events.graph)));
  events.state(50, true);
  EXPECT_FALSE(sameAnswers(before, buildView(events.graph)));
  events.state(50, false);
  // Back to idle, but with a start to tell.
  EXPECT_FALSE(sameAnswers(before, buildView(events.graph)));
  takeStarts(events.graph);
  EXPECT_TRUE(sameAnswers(before, buildView(events.graph)));
  events.graph.defaultSource = "mic";
  EXPECT_FALSE(sameAnswers(before, buildView(events.graph)));
}

}  // namespace
