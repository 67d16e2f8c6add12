// PipeWire's graph as the audio property reads see it: which streams are
// process objects, whose pid they carry, the default input, and the reads'
// answers and failures.
#include "platform/linux/audio_graph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using namespace pwaudio;

namespace {

constexpr std::uint32_t code(const char* c) {
  return (std::uint32_t(std::uint8_t(c[0])) << 24) | (std::uint32_t(std::uint8_t(c[1])) << 16) |
         (std::uint32_t(std::uint8_t(c[2])) << 8) | std::uint32_t(std::uint8_t(c[3]));
}

// A graph with a microphone (30), a virtual source (31), a speaker (32), and
// clients for a native recorder (40), a PulseAudio client through the
// PulseAudio server, pid 4100 (41), and a client that names no pid of its
// own (42).
Graph baseGraph() {
  Graph graph;
  graph.nodes[30] = Node{100, "Audio/Source", "mic", true, std::nullopt};
  graph.nodes[31] = Node{101, "Audio/Source/Virtual", "virtual", false, std::nullopt};
  graph.nodes[32] = Node{102, "Audio/Sink", "speaker", true, std::nullopt};
  graph.clients[40] = Client{4000, 4000, false};
  graph.clients[41] = Client{5100, 4100, true};
  graph.clients[42] = Client{std::nullopt, 4200, false};
  return graph;
}

void addStream(Graph& graph, std::uint32_t id, ObjectId object, bool running,
               std::optional<std::uint32_t> client, const char* mediaClass = "Stream/Input/Audio") {
  graph.nodes[id] = Node{object, mediaClass, "stream", running, client};
}

void link(Graph& graph, std::uint32_t id, std::uint32_t from, std::uint32_t to) {
  graph.links[id] = Link{from, to};
}

TEST(PipeWireView, ProcessObjectsAreCapturesFedFromASource) {
  Graph graph = baseGraph();
  addStream(graph, 50, 200, true, 40);                     // native recorder on the mic
  addStream(graph, 51, 201, true, 41);                     // PulseAudio client
  addStream(graph, 52, 202, true, 41);                     // capture of the speaker's monitor
  addStream(graph, 53, 203, false, 42);                    // on the virtual source, idle
  addStream(graph, 54, 204, true, 40);                     // not linked (yet)
  addStream(graph, 55, 205, true, 40, "Stream/Output/Audio");  // playback
  addStream(graph, 56, 206, true, 99);                     // client not (yet) known
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
  for (const char* path : {"", "/usr/bin/pw-cat", "/opt/pipewire/pw-cat", "/usr/bin/pipewire-pulse2",
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

TEST(PipeWireReads, AnswersAndFailures) {
  Graph graph = baseGraph();
  addStream(graph, 50, 200, true, 40);
  addStream(graph, 51, 201, false, 42);
  link(graph, 60, 30, 50);
  link(graph, 61, 30, 51);
  graph.defaultSource = "mic";
  graph.clients[42].securePid.reset();  // 201 has no pid
  const View view = buildView(graph);

  std::uint32_t size = 0;
  ASSERT_EQ(readPropertySize(&view, 1, code("prs#"), &size), 0);
  EXPECT_EQ(size, 8U);
  std::uint32_t ids[3] = {7, 7, 7};
  size = sizeof ids;
  ASSERT_EQ(readProperty(&view, 1, code("prs#"), &size, ids), 0);
  EXPECT_EQ(size, 8U);
  EXPECT_EQ(ids[0], 200U);
  EXPECT_EQ(ids[1], 201U);
  EXPECT_EQ(ids[2], 7U);  // past the answer: untouched
  // A smaller buffer gets the ids that fit.
  size = 5;
  ASSERT_EQ(readProperty(&view, 1, code("prs#"), &size, ids), 0);
  EXPECT_EQ(size, 4U);

  struct Read {
    ObjectId object;
    const char* selector;
    bool ok;
    std::uint32_t value;
  };
  const std::vector<Read> reads = {
      {200, "ppid", true, 4000}, {200, "piri", true, 1},   {201, "piri", true, 0},
      {201, "ppid", false, 0},   {1, "dIn ", true, 100},   {100, "gone", true, 1},
      {101, "gone", true, 0},    {200, "gone", true, 1},   {102, "piri", false, 0},
      {999, "gone", false, 0},   {999, "ppid", false, 0},  {1, "ppid", false, 0},
      {200, "zzzz", false, 0},   {0, "gone", false, 0},
  };
  for (const Read& r : reads) {
    std::uint32_t value = 12345;
    std::uint32_t valueSize = sizeof value;
    const std::int32_t status = readProperty(&view, r.object, code(r.selector), &valueSize, &value);
    EXPECT_EQ(status == 0, r.ok) << r.object << " " << r.selector;
    if (r.ok) {
      EXPECT_EQ(value, r.value) << r.object << " " << r.selector;
    }
    std::uint32_t reported = 0;
    EXPECT_EQ(readPropertySize(&view, r.object, code(r.selector), &reported) == 0, r.ok)
        << r.object << " " << r.selector;
  }
  // Too small a buffer for one value.
  std::uint16_t small = 0;
  std::uint32_t smallSize = sizeof small;
  EXPECT_NE(readProperty(&view, 200, code("ppid"), &smallSize, &small), 0);

  // Without a connection every read fails.
  size = 0;
  EXPECT_NE(readPropertySize(nullptr, 1, code("prs#"), &size), 0);
  std::uint32_t value = 0;
  size = sizeof value;
  EXPECT_NE(readProperty(nullptr, 1, code("dIn "), &size, &value), 0);
}

}  // namespace
