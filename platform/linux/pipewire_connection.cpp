#include "platform/linux/pipewire_connection.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/utils/result.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/audio_graph.h"
#include "platform/linux/folder_watch.h"
#include "platform/linux/runtime_library.h"
#include "platform/loop.h"
#include "platform/threads/thread_name.h"

namespace pwaudio {

namespace {

// The functions of libpipewire that are real symbols; everything else used
// here (registry, binding, listeners, timers) goes through inline interface
// calls of its headers.
// clang-format off
#define TONDREL_PIPEWIRE_FUNCTIONS(X)                                                        \
  X(pw_init) X(pw_log_set_level) X(pw_thread_loop_new) X(pw_thread_loop_start)               \
  X(pw_thread_loop_get_loop) X(pw_thread_loop_lock) X(pw_thread_loop_unlock) X(pw_context_new) \
  X(pw_context_connect) X(pw_core_disconnect) X(pw_proxy_destroy)
// clang-format on

struct Library {
  TONDREL_PIPEWIRE_FUNCTIONS(TONDREL_RUNTIME_FUNCTION)

  bool load() {
    // Never unloaded: its threads run until the process ends.
    void* handle = dlopen("libpipewire-0.3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
#define TONDREL_LOOK_UP(name) &&runtime_library::lookUp(handle, #name, &name)
    return true TONDREL_PIPEWIRE_FUNCTIONS(TONDREL_LOOK_UP);
#undef TONDREL_LOOK_UP
  }
};

// PipeWire's interface calls are macros written for C; they are wrapped
// here, once, so their casts stay out of the code below.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
void addCoreListener(pw_core* core, spa_hook* hook, const pw_core_events* events, void* data) {
  if (core == nullptr) return;
  pw_core_add_listener(core, hook, events, data);
}
pw_registry* registryOf(pw_core* core) {
  if (core == nullptr) return nullptr;
  return pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
}
void addRegistryListener(pw_registry* registry, spa_hook* hook, const pw_registry_events* events,
                         void* data) {
  if (registry == nullptr) return;
  pw_registry_add_listener(registry, hook, events, data);
}
int sync(pw_core* core, int seq) {
  if (core == nullptr) return -1;
  return pw_core_sync(core, PW_ID_CORE, seq);
}
pw_proxy* bindGlobal(pw_registry* registry, std::uint32_t id, const char* type,
                     std::uint32_t version) {
  if (registry == nullptr) return nullptr;
  return static_cast<pw_proxy*>(pw_registry_bind(registry, id, type, version, 0));
}
void addNodeListener(pw_proxy* node, spa_hook* hook, const pw_node_events* events, void* data) {
  if (node == nullptr) return;
  pw_node_add_listener(reinterpret_cast<pw_node*>(node), hook, events, data);
}
void addClientListener(pw_proxy* client, spa_hook* hook, const pw_client_events* events,
                       void* data) {
  if (client == nullptr) return;
  pw_client_add_listener(reinterpret_cast<pw_client*>(client), hook, events, data);
}
void addMetadataListener(pw_proxy* metadata, spa_hook* hook, const pw_metadata_events* events,
                         void* data) {
  if (metadata == nullptr) return;
  pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(metadata), hook, events, data);
}
// Called on the loop thread before each wait for events, so once after every
// batch of events it handled.
void addBeforeWaitHook(pw_loop* loop, spa_hook* hook, void (*beforeWait)(void*), void* data) {
  static const spa_loop_control_hooks hooks = {
      .version = SPA_VERSION_LOOP_CONTROL_HOOKS,
      .before = beforeWait,
      .after = nullptr,
  };
  pw_loop_add_hook(loop, hook, &hooks, data);
}
spa_source* addTimer(pw_loop* loop, spa_source_timer_func_t onTimer, void* data) {
  return pw_loop_add_timer(loop, onTimer, data);
}
// Fires once, `after` from now.
void armTimer(pw_loop* loop, spa_source* timer, std::chrono::nanoseconds after) {
  // A zero value would disarm it.
  const auto ns = std::max<std::int64_t>(after.count(), 1);
  timespec value{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  timespec once{0, 0};
  pw_loop_update_timer(loop, timer, &value, &once, false);
}
void disarmTimer(pw_loop* loop, spa_source* timer) {
  timespec zero{0, 0};
  pw_loop_update_timer(loop, timer, &zero, &zero, false);
}
#pragma GCC diagnostic pop

// How long a new connection may take to give its first complete picture of
// the registry before it is given up, and how often a lost or failed
// connection is tried again: soon at first, so a restarted PipeWire is found
// within a poll or two, then less often while it stays away.
constexpr std::chrono::milliseconds syncWait{2000};
constexpr std::chrono::milliseconds firstRetry{500};
constexpr std::chrono::milliseconds longestRetry{4000};

// Whether the socket PipeWire would be reached at is there. Connecting costs
// far more than looking, and on machines without PipeWire it would be tried
// every poll. The same places the library looks in; when they cannot be
// worked out, the library is left to try.
std::optional<std::string> socketPath() {
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  if (remote == nullptr || remote[0] == '\0') remote = "pipewire-0";
  if (remote[0] == '/') return std::string(remote);
  for (const char* name : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR", "USERPROFILE"}) {
    const char* dir = std::getenv(name);
    if (dir != nullptr && dir[0] != '\0') return std::string(dir) + "/" + remote;
  }
  return std::nullopt;
}

bool socketMayExist() {
  const std::optional<std::string> path = socketPath();
  struct stat info {};
  return path && stat(path->c_str(), &info) == 0;
}

// Returns once PipeWire's socket is there. The kernel tells when anything
// changes in the socket's folder, so nothing runs while it stays missing;
// where the folder cannot be watched, it is looked at after 0.5 s, then 1,
// 2 and every 4 s.
void waitForSocket() {
  const std::optional<std::string> path = socketPath();
  std::vector<std::string> folder;
  if (path) {
    const std::size_t slash = path->find_last_of('/');
    folder.push_back(slash == std::string::npos ? std::string(".")
                     : slash == 0               ? std::string("/")
                                                : path->substr(0, slash));
  }
  desktop::FolderWatch watch;
  auto pause = firstRetry;
  for (;;) {
    // Watched before looking: a socket made in between is still told.
    watch.watch(folder);
    if (socketMayExist()) return;
    (void)watch.wait(pause);
    pause = std::min(pause * 2, longestRetry);
  }
}

// The program a process runs, as the kernel records it: a process cannot
// change this without running that program.
std::string executableOf(pid_t pid) {
  char path[PATH_MAX];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

enum class State { disconnected, syncing, ready, broken };
enum class Kind { node, client, metadata };

class Connection;

// One bound registry object; its listener must not move while registered.
struct Bound {
  Connection* owner = nullptr;
  std::uint32_t id = 0;
  Kind kind = Kind::node;
  pw_proxy* proxy = nullptr;
  spa_hook listener{};
};

// Everything that talks to PipeWire runs on the library's loop thread: the
// connection, its sync round trips, the deadline for a silent peer, the
// reconnections and their back-off. Readers only take `mutex_`, which the
// loop thread holds for the moment it takes to change the cached graph, so
// a read never waits for PipeWire, however PipeWire behaves.
class Connection {
 public:
  static Connection& shared() {
    // Never destroyed: the loop thread may still be running at exit.
    static Connection* instance = new Connection;
    return *instance;
  }

  // The main thread's reads.
  void takeCaptureStreams(std::vector<platform::audio::CaptureStream>& streams) {
    const std::lock_guard<std::mutex> hold(mutex_);
    startOnce();
    captureStreams(answers(), streams);
    if (takeStarts(graph_)) {
      changed();
      // What was just answered is no news for the next batch of events.
      announced_ = answers();
      announcedGeneration_ = generation_;
    }
  }

  std::optional<bool> defaultInputRunning() {
    const std::lock_guard<std::mutex> hold(mutex_);
    startOnce();
    if (state_ != State::ready) return std::nullopt;
    return pwaudio::defaultInputRunning(answers());
  }

 private:
  // Called with `mutex_` held.
  void startOnce() {
    if (started_) return;
    started_ = true;
    // The library, its thread and its modules are only loaded once there is
    // a PipeWire to talk to: an agent on a machine without one starts as fast
    // as it would without the library. Loading takes tens of milliseconds,
    // so it happens on a thread of its own, which also waits for the socket.
    std::thread([this] {
      platform::nameThisThread("tondrel-pw-wait");
      waitForSocket();
      start();
    }).detach();
  }

  // Called with `mutex_` held: the view of the graph as it is now; while no
  // connection is ready, only the captures that ended with the last one.
  const View& answers() {
    if (viewGeneration_ != generation_) {
      if (state_ == State::ready) {
        view_ = buildView(graph_);
      } else {
        view_ = View{};
        appendGoneCaptures(graph_, view_.processes);
      }
      viewGeneration_ = generation_;
    }
    return view_;
  }

  // On a thread of its own, once.
  void start() {
    if (!pw.load()) return;
    pw.pw_init(nullptr, nullptr);
    // Whatever the library has to say goes nowhere: the agent's output is its
    // message stream alone.
    pw.pw_log_set_level(SPA_LOG_LEVEL_NONE);
    pw_thread_loop* threadLoop = pw.pw_thread_loop_new("tondrel-audio", nullptr);
    if (threadLoop == nullptr) return;
    loop_ = pw.pw_thread_loop_get_loop(threadLoop);
    context_ = pw.pw_context_new(loop_, nullptr, 0);
    if (context_ == nullptr) return;
    timer_ = addTimer(loop_, &Connection::onTimer, this);
    addBeforeWaitHook(loop_, &beforeWaitHook_, &Connection::beforeWait, this);
    if (timer_ == nullptr || pw.pw_thread_loop_start(threadLoop) != 0) return;
    pw.pw_thread_loop_lock(threadLoop);
    connect();
    pw.pw_thread_loop_unlock(threadLoop);
  }

  // On the loop thread from here on.

  void setState(State state) {
    const std::lock_guard<std::mutex> hold(mutex_);
    state_ = state;
    // The answers depend on the state: only a ready connection has a graph.
    changed();
    if (state != State::ready) return;
    // What was running when the graph became known is reported by its state;
    // starts counted while it was being learnt are not news.
    for (auto& [id, node] : graph_.nodes) node.starts = 0;
  }

  // After every batch of events: asks for a poll when an answer changed, or
  // the connection became ready or was lost. Many changes in one batch (a
  // recorder that opens several streams) give one poll.
  static void beforeWait(void* data) {
    auto* self = static_cast<Connection*>(data);
    {
      const std::lock_guard<std::mutex> hold(self->mutex_);
      if (self->announcedGeneration_ == self->generation_) return;
      self->announcedGeneration_ = self->generation_;
      const bool ready = self->state_ == State::ready;
      const View& answers = self->answers();
      if (ready == self->announcedReady_ && sameAnswers(answers, self->announced_)) return;
      self->announcedReady_ = ready;
      self->announced_ = answers;
    }
    loop::wakeMonitor();
  }

  // Tries again after the back-off, which grows while attempts keep failing.
  void retryLater() {
    armTimer(loop_, timer_, retryAfter_);
    retryAfter_ = std::min(retryAfter_ * 2, longestRetry);
  }

  void connect() {
    if (!socketMayExist()) {
      retryLater();
      return;
    }
    // The socket is non-blocking: a peer that accepts and never answers
    // costs the sync deadline below, not a wait here.
    core_ = pw.pw_context_connect(context_, nullptr, 0);
    if (core_ == nullptr) {
      retryLater();
      return;
    }
    static const pw_core_events coreEvents = {
        .version = PW_VERSION_CORE_EVENTS,
        .info = nullptr,
        .done = &Connection::onDone,
        .ping = nullptr,
        .error = &Connection::onError,
        .remove_id = nullptr,
        .bound_id = nullptr,
        .add_mem = nullptr,
        .remove_mem = nullptr,
    };
    static const pw_registry_events registryEvents = {
        .version = PW_VERSION_REGISTRY_EVENTS,
        .global = &Connection::onGlobal,
        .global_remove = &Connection::onGlobalRemove,
    };
    coreListener_ = spa_hook{};
    addCoreListener(core_, &coreListener_, &coreEvents, this);
    registry_ = registryOf(core_);
    if (registry_ == nullptr) {
      spa_hook_remove(&coreListener_);
      pw.pw_core_disconnect(core_);
      core_ = nullptr;
      retryLater();
      return;
    }
    registryListener_ = spa_hook{};
    addRegistryListener(registry_, &registryListener_, &registryEvents, this);
    // Readers see nothing until the whole graph is known: otherwise streams
    // already capturing would look as if they had just started.
    setState(State::syncing);
    syncRound_ = 1;
    syncSeq_ = sync(core_, 0);
    armTimer(loop_, timer_, syncWait);
  }

  // Forgets the connection and everything learnt over it.
  void drop() {
    for (auto& [id, bound] : bound_) {
      spa_hook_remove(&bound->listener);
      pw.pw_proxy_destroy(bound->proxy);
    }
    bound_.clear();
    if (registry_ != nullptr) {
      spa_hook_remove(&registryListener_);
      pw.pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
      registry_ = nullptr;
    }
    if (core_ != nullptr) {
      spa_hook_remove(&coreListener_);
      pw.pw_core_disconnect(core_);
      core_ = nullptr;
    }
    const std::lock_guard<std::mutex> hold(mutex_);
    // Captures that started since the last read are still told of.
    keepOnlyStarts(graph_);
    state_ = State::disconnected;
    changed();
  }

  // The one timer: the sync deadline of a new connection, the prompt drop
  // of a broken one, or the next attempt.
  static void onTimer(void* data, std::uint64_t /*expirations*/) {
    auto* self = static_cast<Connection*>(data);
    State state;
    {
      const std::lock_guard<std::mutex> hold(self->mutex_);
      state = self->state_;
    }
    switch (state) {
      case State::ready:
        return;
      case State::syncing:
      case State::broken:
        self->drop();
        self->retryLater();
        return;
      case State::disconnected:
        self->connect();
        return;
    }
  }

  ObjectId nextObject() {
    const ObjectId object = nextObject_++;
    if (nextObject_ < 2) nextObject_ = 2;
    return object;
  }

  // Called with `mutex_` held.
  void changed() { ++generation_; }

  static void onDone(void* data, std::uint32_t id, int seq) {
    auto* self = static_cast<Connection*>(data);
    if (id != PW_ID_CORE || seq != self->syncSeq_ || self->syncRound_ == 0) return;
    if (self->syncRound_ == 1) {
      // Every global is known and bound; the second round trip brings the
      // bound objects' first info and properties.
      self->syncRound_ = 2;
      self->syncSeq_ = sync(self->core_, seq);
      return;
    }
    self->syncRound_ = 0;
    disarmTimer(self->loop_, self->timer_);
    self->retryAfter_ = firstRetry;
    self->setState(State::ready);
  }

  static void onError(void* data, std::uint32_t id, int /*seq*/, int res, const char* /*message*/) {
    auto* self = static_cast<Connection*>(data);
    // Errors about single objects leave the connection usable: a bind that
    // lost a race with the object's removal (a stream that lived for a few
    // milliseconds) is told on the object, and the release of that proxy
    // then on the core, as an unknown id. Any other error about the core
    // means the connection is lost. It is dropped from the timer, not from
    // inside the core's own callback.
    if (id != PW_ID_CORE || res == -ENOENT) return;
    self->syncRound_ = 0;
    self->setState(State::broken);
    armTimer(self->loop_, self->timer_, std::chrono::nanoseconds{1});
  }

  static void onGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/,
                       const char* type, std::uint32_t /*version*/, const spa_dict* props) {
    auto* self = static_cast<Connection*>(data);
    Kind kind;
    {
      const std::lock_guard<std::mutex> hold(self->mutex_);
      if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
        const char* output =
            props != nullptr ? spa_dict_lookup(props, PW_KEY_LINK_OUTPUT_NODE) : nullptr;
        const char* input =
            props != nullptr ? spa_dict_lookup(props, PW_KEY_LINK_INPUT_NODE) : nullptr;
        const auto outputNode = parsePid(output);
        const auto inputNode = parsePid(input);
        if (outputNode && inputNode) {
          self->graph_.links[id] =
              Link{static_cast<std::uint32_t>(*outputNode), static_cast<std::uint32_t>(*inputNode)};
          noteCaptures(self->graph_, static_cast<std::uint32_t>(*inputNode));
          self->changed();
        }
        return;
      }
      if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        kind = Kind::node;
        Node node;
        node.object = self->nextObject();
        if (props != nullptr) readNodeProps(node, props);
        self->graph_.nodes[id] = std::move(node);
        noteCaptures(self->graph_, id);
        self->changed();
      } else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        kind = Kind::client;
        Client client;
        if (props != nullptr) readClientProps(client, props);
        self->graph_.clients[id] = client;
        self->changed();
      } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
        const char* name =
            props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
        if (name == nullptr || std::strcmp(name, "default") != 0) return;
        kind = Kind::metadata;
      } else {
        return;
      }
    }
    self->bind(id, kind, type);
  }

  void bind(std::uint32_t id, Kind kind, const char* type) {
    std::uint32_t version = PW_VERSION_NODE;
    if (kind == Kind::client) version = PW_VERSION_CLIENT;
    if (kind == Kind::metadata) version = PW_VERSION_METADATA;
    pw_proxy* proxy = bindGlobal(registry_, id, type, version);
    if (proxy == nullptr) return;
    auto bound = std::make_unique<Bound>();
    bound->owner = this;
    bound->id = id;
    bound->kind = kind;
    bound->proxy = proxy;
    static const pw_node_events nodeEvents = {
        .version = PW_VERSION_NODE_EVENTS,
        .info = &Connection::onNodeInfo,
        .param = nullptr,
    };
    static const pw_client_events clientEvents = {
        .version = PW_VERSION_CLIENT_EVENTS,
        .info = &Connection::onClientInfo,
        .permissions = nullptr,
    };
    static const pw_metadata_events metadataEvents = {
        .version = PW_VERSION_METADATA_EVENTS,
        .property = &Connection::onProperty,
    };
    Bound* raw = bound.get();
    switch (kind) {
      case Kind::node:
        addNodeListener(proxy, &raw->listener, &nodeEvents, raw);
        break;
      case Kind::client:
        addClientListener(proxy, &raw->listener, &clientEvents, raw);
        break;
      case Kind::metadata:
        addMetadataListener(proxy, &raw->listener, &metadataEvents, raw);
        break;
    }
    if (auto old = bound_.find(id); old != bound_.end()) {
      spa_hook_remove(&old->second->listener);
      pw.pw_proxy_destroy(old->second->proxy);
    }
    bound_[id] = std::move(bound);
  }

  static void onGlobalRemove(void* data, std::uint32_t id) {
    auto* self = static_cast<Connection*>(data);
    const std::lock_guard<std::mutex> hold(self->mutex_);
    const bool removed = removeNode(self->graph_, id) || removeLink(self->graph_, id) ||
                         self->graph_.clients.erase(id) > 0;
    if (auto bound = self->bound_.find(id); bound != self->bound_.end()) {
      if (bound->second->kind == Kind::metadata) self->graph_.defaultSource.reset();
      spa_hook_remove(&bound->second->listener);
      self->pw.pw_proxy_destroy(bound->second->proxy);
      self->bound_.erase(bound);
      self->changed();
    } else if (removed) {
      self->changed();
    }
  }

  static void readNodeProps(Node& node, const spa_dict* props) {
    if (const char* value = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS)) node.mediaClass = value;
    if (const char* value = spa_dict_lookup(props, PW_KEY_NODE_NAME)) node.name = value;
    if (const char* value = spa_dict_lookup(props, PW_KEY_CLIENT_ID)) {
      if (const auto client = parsePid(value)) node.client = static_cast<std::uint32_t>(*client);
    }
  }

  static void readClientProps(Client& client, const spa_dict* props) {
    if (const char* claim = spa_dict_lookup(props, PW_KEY_APP_PROCESS_ID))
      client.processId = parsePid(claim);
    // Set by PipeWire itself from the socket's peer; a client cannot change it.
    if (const auto pid = parsePid(spa_dict_lookup(props, PW_KEY_SEC_PID));
        pid && pid != client.securePid) {
      client.securePid = pid;
      client.proxy = isProxyProgram(executableOf(*pid));
    }
  }

  static void onNodeInfo(void* data, const pw_node_info* info) {
    auto* bound = static_cast<Bound*>(data);
    Connection* self = bound->owner;
    const std::lock_guard<std::mutex> hold(self->mutex_);
    const auto node = self->graph_.nodes.find(bound->id);
    if (node == self->graph_.nodes.end() || info == nullptr) return;
    if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) != 0) {
      node->second.running = info->state == PW_NODE_STATE_RUNNING;
    }
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) != 0 && info->props != nullptr) {
      readNodeProps(node->second, info->props);
    }
    noteCaptures(self->graph_, bound->id);
    self->changed();
  }

  static void onClientInfo(void* data, const pw_client_info* info) {
    auto* bound = static_cast<Bound*>(data);
    Connection* self = bound->owner;
    const std::lock_guard<std::mutex> hold(self->mutex_);
    const auto client = self->graph_.clients.find(bound->id);
    if (client == self->graph_.clients.end() || info == nullptr) return;
    if ((info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS) != 0 && info->props != nullptr) {
      readClientProps(client->second, info->props);
      self->changed();
    }
  }

  static int onProperty(void* data, std::uint32_t subject, const char* key, const char* /*type*/,
                        const char* value) {
    auto* bound = static_cast<Bound*>(data);
    Connection* self = bound->owner;
    const std::lock_guard<std::mutex> hold(self->mutex_);
    if (key == nullptr) {
      // Every property of the object was cleared.
      self->graph_.defaultSource.reset();
      self->changed();
    } else if (subject == PW_ID_CORE && std::strcmp(key, "default.audio.source") == 0) {
      self->graph_.defaultSource =
          value != nullptr ? defaultNodeName(value) : std::optional<std::string>{};
      self->changed();
    }
    return 0;
  }

  Library pw;
  // Set on the reader's thread, under `mutex_`.
  bool started_ = false;
  // Only touched on the loop thread once it runs (and before, by start()).
  pw_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  spa_source* timer_ = nullptr;
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  spa_hook coreListener_{};
  spa_hook registryListener_{};
  spa_hook beforeWaitHook_{};
  int syncRound_ = 0;
  int syncSeq_ = 0;
  std::chrono::milliseconds retryAfter_ = firstRetry;
  std::map<std::uint32_t, std::unique_ptr<Bound>> bound_;
  ObjectId nextObject_ = 2;
  // What readers see, under `mutex_`.
  std::mutex mutex_;
  State state_ = State::disconnected;
  Graph graph_;
  std::uint64_t generation_ = 0;
  View view_;
  std::uint64_t viewGeneration_ = ~std::uint64_t{0};
  // What the monitor was last asked to poll for, under `mutex_`.
  std::uint64_t announcedGeneration_ = 0;
  bool announcedReady_ = false;
  View announced_;
};

}  // namespace

void takeCaptureStreams(std::vector<platform::audio::CaptureStream>& streams) {
  Connection::shared().takeCaptureStreams(streams);
}

std::optional<bool> defaultInputRunning() { return Connection::shared().defaultInputRunning(); }

}  // namespace pwaudio
