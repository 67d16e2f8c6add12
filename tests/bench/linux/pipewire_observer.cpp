// PipeWire's side of a capture, as a second client sees it: prints one line
// for every capture stream ("Stream/Input/Audio" node) that turns running and
// for every one that stops running or goes, with the pid PipeWire recorded
// for its client and the time (CLOCK_MONOTONIC, ns) the change arrived here:
//   running NODE PID NS
//   stopped NODE PID NS
// and "ready" once the registry as it was at start is known. Runs until
// killed. For the benchmarks, which compare these times with the agent's
// lines.
#include <pipewire/pipewire.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace {

std::int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Observer;

struct Watched {
  Observer* observer = nullptr;
  std::uint32_t id = 0;
  bool isNode = false;
  pw_proxy* proxy = nullptr;
  spa_hook listener{};
  std::uint32_t client = 0;
  bool running = false;
};

struct Observer {
  pw_main_loop* loop = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  spa_hook coreListener{};
  spa_hook registryListener{};
  int syncSeq = 0;
  std::map<std::uint32_t, std::unique_ptr<Watched>> watched;
  std::map<std::uint32_t, long> pids;  // client id -> pipewire.sec.pid

  long pidOf(const Watched& node) const {
    const auto found = pids.find(node.client);
    return found == pids.end() ? 0 : found->second;
  }

  void print(const char* what, const Watched& node) {
    std::printf("%s %u %ld %lld\n", what, node.id, pidOf(node),
                static_cast<long long>(monotonicNs()));
    std::fflush(stdout);
  }
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

void onNodeInfo(void* data, const pw_node_info* info) {
  auto* node = static_cast<Watched*>(data);
  if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) == 0) return;
  const bool running = info->state == PW_NODE_STATE_RUNNING;
  if (running == node->running) return;
  node->running = running;
  node->observer->print(running ? "running" : "stopped", *node);
}

void onClientInfo(void* data, const pw_client_info* info) {
  auto* client = static_cast<Watched*>(data);
  if (info->props == nullptr) return;
  if (const char* pid = spa_dict_lookup(info->props, PW_KEY_SEC_PID)) {
    client->observer->pids[client->id] = std::atol(pid);
  }
}

const pw_node_events nodeEvents = {.version = PW_VERSION_NODE_EVENTS, .info = onNodeInfo};
const pw_client_events clientEvents = {.version = PW_VERSION_CLIENT_EVENTS, .info = onClientInfo};

void onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
              const spa_dict* props) {
  auto* self = static_cast<Observer*>(data);
  auto watched = std::make_unique<Watched>();
  watched->observer = self;
  watched->id = id;
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
    const char* mediaClass =
        props != nullptr ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
    if (mediaClass == nullptr || std::strcmp(mediaClass, "Stream/Input/Audio") != 0) return;
    const char* client = spa_dict_lookup(props, PW_KEY_CLIENT_ID);
    watched->client = client != nullptr ? static_cast<std::uint32_t>(std::atol(client)) : 0;
    watched->isNode = true;
    watched->proxy =
        static_cast<pw_proxy*>(pw_registry_bind(self->registry, id, type, PW_VERSION_NODE, 0));
    pw_node_add_listener(reinterpret_cast<pw_node*>(watched->proxy), &watched->listener,
                         &nodeEvents, watched.get());
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
    watched->proxy =
        static_cast<pw_proxy*>(pw_registry_bind(self->registry, id, type, PW_VERSION_CLIENT, 0));
    pw_client_add_listener(reinterpret_cast<pw_client*>(watched->proxy), &watched->listener,
                           &clientEvents, watched.get());
  } else {
    return;
  }
  self->watched[id] = std::move(watched);
}

void onGlobalRemove(void* data, std::uint32_t id) {
  auto* self = static_cast<Observer*>(data);
  const auto found = self->watched.find(id);
  if (found == self->watched.end()) return;
  if (found->second->isNode && found->second->running) self->print("stopped", *found->second);
  spa_hook_remove(&found->second->listener);
  pw_proxy_destroy(found->second->proxy);
  self->watched.erase(found);
}

void onDone(void* data, std::uint32_t id, int seq) {
  auto* self = static_cast<Observer*>(data);
  if (id != PW_ID_CORE || seq != self->syncSeq) return;
  std::printf("ready\n");
  std::fflush(stdout);
}

void onError(void* data, std::uint32_t id, int, int, const char* message) {
  auto* self = static_cast<Observer*>(data);
  if (id != PW_ID_CORE) return;
  std::fprintf(stderr, "pipewire: %s\n", message);
  pw_main_loop_quit(self->loop);
}

const pw_registry_events registryEvents = {
    .version = PW_VERSION_REGISTRY_EVENTS, .global = onGlobal, .global_remove = onGlobalRemove};
const pw_core_events coreEvents = {
    .version = PW_VERSION_CORE_EVENTS, .done = onDone, .error = onError};

#pragma GCC diagnostic pop

}  // namespace

int main(int argc, char** argv) {
  pw_init(&argc, &argv);
  Observer observer;
  observer.loop = pw_main_loop_new(nullptr);
  pw_context* context = pw_context_new(pw_main_loop_get_loop(observer.loop), nullptr, 0);
  observer.core = pw_context_connect(context, nullptr, 0);
  if (observer.core == nullptr) {
    std::fprintf(stderr, "no PipeWire to connect to\n");
    return 1;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
  pw_core_add_listener(observer.core, &observer.coreListener, &coreEvents, &observer);
  observer.registry = pw_core_get_registry(observer.core, PW_VERSION_REGISTRY, 0);
  pw_registry_add_listener(observer.registry, &observer.registryListener, &registryEvents,
                           &observer);
  observer.syncSeq = pw_core_sync(observer.core, PW_ID_CORE, 0);
#pragma GCC diagnostic pop
  pw_main_loop_run(observer.loop);
  return 1;
}
