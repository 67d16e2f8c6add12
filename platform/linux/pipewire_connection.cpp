#include "platform/linux/pipewire_connection.h"

#include <dlfcn.h>

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/utils/result.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

// The stand-in dlfcn.h routes dlsym through the backend's own hook; here the
// system's lookup is wanted, for a library this file opened itself.
#undef dlsym

namespace pwaudio {

namespace {

// The functions of libpipewire that are real symbols; everything else used
// here (registry, binding, listeners) goes through inline interface calls of
// its headers.
struct Library {
  decltype(&pw_init) init = nullptr;
  decltype(&pw_log_set_level) setLogLevel = nullptr;
  decltype(&pw_thread_loop_new) loopNew = nullptr;
  decltype(&pw_thread_loop_start) loopStart = nullptr;
  decltype(&pw_thread_loop_get_loop) loopGet = nullptr;
  decltype(&pw_thread_loop_lock) lock = nullptr;
  decltype(&pw_thread_loop_unlock) unlock = nullptr;
  decltype(&pw_thread_loop_signal) signal = nullptr;
  decltype(&pw_thread_loop_get_time) getTime = nullptr;
  decltype(&pw_thread_loop_timed_wait_full) timedWait = nullptr;
  decltype(&pw_context_new) contextNew = nullptr;
  decltype(&pw_context_connect) connect = nullptr;
  decltype(&pw_core_disconnect) disconnect = nullptr;
  decltype(&pw_proxy_destroy) proxyDestroy = nullptr;

  bool load() {
    // Never unloaded: its threads run until the process ends.
    void* handle = dlopen("libpipewire-0.3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    const auto get = [handle](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
      return function != nullptr;
    };
    return get(init, "pw_init") && get(setLogLevel, "pw_log_set_level") &&
           get(loopNew, "pw_thread_loop_new") && get(loopStart, "pw_thread_loop_start") &&
           get(loopGet, "pw_thread_loop_get_loop") && get(lock, "pw_thread_loop_lock") &&
           get(unlock, "pw_thread_loop_unlock") && get(signal, "pw_thread_loop_signal") &&
           get(getTime, "pw_thread_loop_get_time") &&
           get(timedWait, "pw_thread_loop_timed_wait_full") && get(contextNew, "pw_context_new") &&
           get(connect, "pw_context_connect") && get(disconnect, "pw_core_disconnect") &&
           get(proxyDestroy, "pw_proxy_destroy");
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
pw_proxy* bindGlobal(pw_registry* registry, std::uint32_t id, const char* type, std::uint32_t version) {
  if (registry == nullptr) return nullptr;
  return static_cast<pw_proxy*>(pw_registry_bind(registry, id, type, version, 0));
}
void addNodeListener(pw_proxy* node, spa_hook* hook, const pw_node_events* events, void* data) {
  if (node == nullptr) return;
  pw_node_add_listener(reinterpret_cast<pw_node*>(node), hook, events, data);
}
void addClientListener(pw_proxy* client, spa_hook* hook, const pw_client_events* events, void* data) {
  if (client == nullptr) return;
  pw_client_add_listener(reinterpret_cast<pw_client*>(client), hook, events, data);
}
void addMetadataListener(pw_proxy* metadata, spa_hook* hook, const pw_metadata_events* events,
                         void* data) {
  if (metadata == nullptr) return;
  pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(metadata), hook, events, data);
}
#pragma GCC diagnostic pop

// How long a read waits for a new connection's first complete picture of the
// registry, and how often a lost connection is tried again: soon at first, so
// a restarted PipeWire is found within a poll or two, then less often while it
// stays away.
constexpr std::chrono::milliseconds syncWait{1000};
constexpr std::chrono::milliseconds firstRetry{500};
constexpr std::chrono::milliseconds longestRetry{4000};

// Whether the socket PipeWire would be reached at is there. Connecting costs
// far more than looking, and on machines without PipeWire it would be tried
// every poll. The same places the library looks in; when they cannot be
// worked out, the library is left to try.
bool socketMayExist() {
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  if (remote == nullptr || remote[0] == '\0') remote = "pipewire-0";
  std::string path;
  if (remote[0] == '/') {
    path = remote;
  } else {
    const char* dir = nullptr;
    for (const char* name : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR", "USERPROFILE"}) {
      dir = std::getenv(name);
      if (dir != nullptr && dir[0] != '\0') break;
      dir = nullptr;
    }
    if (dir == nullptr) return false;
    path = std::string(dir) + "/" + remote;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
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

class Connection {
 public:
  static Connection& shared() {
    // Never destroyed: the loop thread may still be running at exit.
    static Connection* instance = new Connection;
    return *instance;
  }

  // With the lock held on return whenever `loop_` exists.
  const View* enter() {
    if (!started_) {
      // The library, its thread and its modules are only loaded once there is
      // a PipeWire to talk to: an agent on a machine without one starts as
      // fast as it would without the library.
      if (!dueForAttempt()) return nullptr;
      if (!socketMayExist()) {
        attemptFailed();
        return nullptr;
      }
      start();
      attempted_ = false;
    }
    if (loop_ == nullptr) return nullptr;
    pw.lock(loop_);
    // A connection whose first picture never completes (a PipeWire that
    // accepted it and then hung) is given up and made again later.
    if (state_ == State::syncing && std::chrono::steady_clock::now() - lastAttempt_ > longestRetry) {
      state_ = State::broken;
    }
    if (state_ == State::broken) drop();
    if (state_ == State::disconnected && dueForAttempt()) {
      if (socketMayExist()) connect();
      if (state_ == State::disconnected) {
        attemptFailed();
      } else {
        retryAfter_ = firstRetry;
      }
    }
    if (state_ != State::ready) return nullptr;
    if (viewGeneration_ != generation_) {
      view_ = buildView(graph_);
      viewGeneration_ = generation_;
    }
    return &view_;
  }

  // Whether a connection may be tried now; if so, the attempt is counted.
  bool dueForAttempt() {
    const auto now = std::chrono::steady_clock::now();
    if (attempted_ && now - lastAttempt_ < retryAfter_) return false;
    attempted_ = true;
    lastAttempt_ = now;
    return true;
  }

  // Failed, or not even tried: wait longer before the next attempt.
  void attemptFailed() { retryAfter_ = std::min(retryAfter_ * 2, longestRetry); }

  void leave() {
    if (loop_ != nullptr) pw.unlock(loop_);
  }

  bool hasLoop() const { return loop_ != nullptr; }

 private:
  void start() {
    started_ = true;
    if (!pw.load()) return;
    pw.init(nullptr, nullptr);
    // Whatever the library has to say goes nowhere: the agent's output is its
    // message stream alone.
    pw.setLogLevel(SPA_LOG_LEVEL_NONE);
    pw_thread_loop* loop = pw.loopNew("tondrel-audio", nullptr);
    if (loop == nullptr) return;
    context_ = pw.contextNew(pw.loopGet(loop), nullptr, 0);
    if (context_ == nullptr || pw.loopStart(loop) != 0) return;
    loop_ = loop;
  }

  // Called with the lock held.
  void connect() {
    core_ = pw.connect(context_, nullptr, 0);
    if (core_ == nullptr) return;
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
      pw.disconnect(core_);
      core_ = nullptr;
      return;
    }
    registryListener_ = spa_hook{};
    addRegistryListener(registry_, &registryListener_, &registryEvents, this);
    state_ = State::syncing;
    syncRound_ = 1;
    syncSeq_ = sync(core_, 0);

    // The first read after connecting sees the whole graph, not the part that
    // has arrived so far: otherwise streams already capturing would look as
    // if they had just started.
    timespec deadline{};
    pw.getTime(loop_, &deadline,
               std::chrono::duration_cast<std::chrono::nanoseconds>(syncWait).count());
    while (state_ == State::syncing) {
      if (pw.timedWait(loop_, &deadline) != 0) break;
    }
  }

  // Called with the lock held, from a read after the connection broke.
  void drop() {
    for (auto& [id, bound] : bound_) {
      spa_hook_remove(&bound->listener);
      pw.proxyDestroy(bound->proxy);
    }
    bound_.clear();
    if (registry_ != nullptr) {
      spa_hook_remove(&registryListener_);
      pw.proxyDestroy(reinterpret_cast<pw_proxy*>(registry_));
      registry_ = nullptr;
    }
    if (core_ != nullptr) {
      spa_hook_remove(&coreListener_);
      pw.disconnect(core_);
      core_ = nullptr;
    }
    graph_ = Graph{};
    ++generation_;
    state_ = State::disconnected;
  }

  ObjectId nextObject() {
    const ObjectId object = nextObject_++;
    if (nextObject_ < 2) nextObject_ = 2;
    return object;
  }

  void changed() { ++generation_; }

  static void onDone(void* data, std::uint32_t id, int seq) {
    auto* self = static_cast<Connection*>(data);
    if (id != PW_ID_CORE || self->state_ != State::syncing || seq != self->syncSeq_) return;
    if (self->syncRound_ == 1) {
      // Every global is known and bound; the second round trip brings the
      // bound objects' first info and properties.
      self->syncRound_ = 2;
      self->syncSeq_ = sync(self->core_, seq);
      return;
    }
    self->state_ = State::ready;
    self->changed();
    self->pw.signal(self->loop_, false);
  }

  static void onError(void* data, std::uint32_t id, int /*seq*/, int /*res*/, const char* /*message*/) {
    auto* self = static_cast<Connection*>(data);
    // Errors about single objects (a bind that lost a race with a removal)
    // leave the connection usable; one about the core itself does not.
    if (id != PW_ID_CORE) return;
    self->state_ = State::broken;
    self->pw.signal(self->loop_, false);
  }

  static void onGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/, const char* type,
                       std::uint32_t /*version*/, const spa_dict* props) {
    auto* self = static_cast<Connection*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
      const char* output = props != nullptr ? spa_dict_lookup(props, PW_KEY_LINK_OUTPUT_NODE) : nullptr;
      const char* input = props != nullptr ? spa_dict_lookup(props, PW_KEY_LINK_INPUT_NODE) : nullptr;
      const auto outputNode = parsePid(output);
      const auto inputNode = parsePid(input);
      if (outputNode && inputNode) {
        self->graph_.links[id] = Link{static_cast<std::uint32_t>(*outputNode),
                                      static_cast<std::uint32_t>(*inputNode)};
        self->changed();
      }
      return;
    }
    Kind kind;
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
      kind = Kind::node;
      Node node;
      node.object = self->nextObject();
      if (props != nullptr) readNodeProps(node, props);
      self->graph_.nodes[id] = std::move(node);
      self->changed();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
      kind = Kind::client;
      Client client;
      if (props != nullptr) readClientProps(client, props);
      self->graph_.clients[id] = client;
      self->changed();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
      const char* name = props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
      if (name == nullptr || std::strcmp(name, "default") != 0) return;
      kind = Kind::metadata;
    } else {
      return;
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
      pw.proxyDestroy(old->second->proxy);
    }
    bound_[id] = std::move(bound);
  }

  static void onGlobalRemove(void* data, std::uint32_t id) {
    auto* self = static_cast<Connection*>(data);
    const bool removed = self->graph_.nodes.erase(id) + self->graph_.clients.erase(id) +
                             self->graph_.links.erase(id) > 0;
    if (auto bound = self->bound_.find(id); bound != self->bound_.end()) {
      if (bound->second->kind == Kind::metadata) self->graph_.defaultSource.reset();
      spa_hook_remove(&bound->second->listener);
      self->pw.proxyDestroy(bound->second->proxy);
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
    if (const auto pid = parsePid(spa_dict_lookup(props, PW_KEY_APP_PROCESS_ID))) node.processId = pid;
  }

  static void readClientProps(Client& client, const spa_dict* props) {
    if (const auto pid = parsePid(spa_dict_lookup(props, PW_KEY_APP_PROCESS_ID))) client.processId = pid;
    if (const auto pid = parsePid(spa_dict_lookup(props, PW_KEY_SEC_PID))) client.securePid = pid;
  }

  static void onNodeInfo(void* data, const pw_node_info* info) {
    auto* bound = static_cast<Bound*>(data);
    Connection* self = bound->owner;
    const auto node = self->graph_.nodes.find(bound->id);
    if (node == self->graph_.nodes.end() || info == nullptr) return;
    if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) != 0) {
      node->second.running = info->state == PW_NODE_STATE_RUNNING;
    }
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) != 0 && info->props != nullptr) {
      readNodeProps(node->second, info->props);
    }
    self->changed();
  }

  static void onClientInfo(void* data, const pw_client_info* info) {
    auto* bound = static_cast<Bound*>(data);
    Connection* self = bound->owner;
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
  bool started_ = false;
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  spa_hook coreListener_{};
  spa_hook registryListener_{};
  State state_ = State::disconnected;
  int syncRound_ = 0;
  int syncSeq_ = 0;
  bool attempted_ = false;
  std::chrono::steady_clock::time_point lastAttempt_{};
  std::chrono::milliseconds retryAfter_ = firstRetry;
  std::map<std::uint32_t, std::unique_ptr<Bound>> bound_;
  Graph graph_;
  std::uint64_t generation_ = 0;
  View view_;
  std::uint64_t viewGeneration_ = ~std::uint64_t{0};
  ObjectId nextObject_ = 2;
};

}  // namespace

Access::Access() {
  Connection& connection = Connection::shared();
  view_ = connection.enter();
  locked_ = connection.hasLoop();
}

Access::~Access() {
  if (locked_) Connection::shared().leave();
}

}  // namespace pwaudio
