#include "platform/linux/accessibility_atspi.h"

// Only the types and constants of these headers are used; every function is
// looked up at run time.
#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/bounded_worker.h"
#include "platform/linux/runtime_library.h"

namespace platform::atspi {

struct Object {};  // stands for an AtspiAccessible; never defined further

namespace {

// The functions used, one list per library.
// clang-format off
#define TONDREL_ATSPI_FUNCTIONS(X)                                                            \
  X(atspi_init) X(atspi_exit) X(atspi_set_timeout) X(atspi_get_a11y_bus) X(atspi_get_desktop) \
  X(atspi_accessible_get_child_count) X(atspi_accessible_get_child_at_index)                  \
  X(atspi_accessible_get_process_id) X(atspi_accessible_get_role) X(atspi_role_get_name)      \
  X(atspi_accessible_get_parent)                                                              \
  X(atspi_accessible_get_state_set) X(atspi_state_set_contains)                               \
  X(atspi_accessible_get_document_iface) X(atspi_document_get_document_attributes)
#define TONDREL_GOBJECT_FUNCTIONS(X) X(g_object_unref)
#define TONDREL_GLIB_FUNCTIONS(X)                                                   \
  X(g_error_free) X(g_free) X(g_hash_table_lookup) X(g_hash_table_unref)            \
  X(g_log_set_default_handler) X(g_log_set_writer_func) X(g_main_context_iteration) \
  X(g_main_context_wakeup)
#define TONDREL_DBUS_FUNCTIONS(X)                                                            \
  X(dbus_error_init) X(dbus_error_free) X(dbus_connection_open_private) X(dbus_bus_register) \
  X(dbus_bus_add_match) X(dbus_bus_remove_match) X(dbus_connection_set_exit_on_disconnect)   \
  X(dbus_connection_get_is_connected) X(dbus_connection_close) X(dbus_connection_ref)        \
  X(dbus_connection_unref) X(dbus_connection_send_with_reply_and_block)                      \
  X(dbus_message_new_method_call) X(dbus_message_unref) X(dbus_message_get_type)             \
  X(dbus_message_iter_init) X(dbus_message_iter_init_append)                                 \
  X(dbus_message_iter_append_basic) X(dbus_message_iter_open_container)                      \
  X(dbus_message_iter_close_container) X(dbus_message_iter_get_arg_type)                     \
  X(dbus_message_iter_recurse) X(dbus_message_iter_get_basic)
// clang-format on

struct Library {
  TONDREL_ATSPI_FUNCTIONS(TONDREL_RUNTIME_FUNCTION)
  TONDREL_GOBJECT_FUNCTIONS(TONDREL_RUNTIME_FUNCTION)
  TONDREL_GLIB_FUNCTIONS(TONDREL_RUNTIME_FUNCTION)
  TONDREL_DBUS_FUNCTIONS(TONDREL_RUNTIME_FUNCTION)
};

void quietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
GLogWriterOutput quietWriter(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

// Loads everything once, on the worker; answers nothing when any library or
// function is missing, which leaves the desktop's accessibility unreachable.
const Library* library() {
  static const Library* loaded = []() -> const Library* {
    constexpr int mode = RTLD_NOW | RTLD_LOCAL;
    void* atspi = dlopen("libatspi.so.0", mode);
    void* gobject = dlopen("libgobject-2.0.so.0", mode);
    void* glib = dlopen("libglib-2.0.so.0", mode);
    void* dbus = dlopen("libdbus-1.so.3", mode);
    if (atspi == nullptr || gobject == nullptr || glib == nullptr || dbus == nullptr)
      return nullptr;
    auto* l = new Library{};

    // clang-format off
#define TONDREL_ATSPI(name) && runtime_library::lookUp(atspi, #name, &l->name)
#define TONDREL_GOBJECT(name) && runtime_library::lookUp(gobject, #name, &l->name)
#define TONDREL_GLIB(name) && runtime_library::lookUp(glib, #name, &l->name)
#define TONDREL_DBUS(name) && runtime_library::lookUp(dbus, #name, &l->name)
    const bool complete = true TONDREL_ATSPI_FUNCTIONS(TONDREL_ATSPI)
        TONDREL_GOBJECT_FUNCTIONS(TONDREL_GOBJECT) TONDREL_GLIB_FUNCTIONS(TONDREL_GLIB)
        TONDREL_DBUS_FUNCTIONS(TONDREL_DBUS);
    // clang-format on
#undef TONDREL_ATSPI
#undef TONDREL_GOBJECT
#undef TONDREL_GLIB
#undef TONDREL_DBUS

    if (!complete) {
      delete l;
      return nullptr;
    }
    // The agent writes nothing but its messages: the libraries' warnings
    // (a missing bus, a vanished application) are dropped.
    l->g_log_set_default_handler(quietLog, nullptr);
    l->g_log_set_writer_func(quietWriter, nullptr, nullptr);
    return l;
  }();
  return loaded;
}

// Every call into the libraries runs on this one thread.
BoundedWorker& worker() {
  // Never destroyed: it may be inside a call that does not return.
  static BoundedWorker* instance = new BoundedWorker("tondrel-a11y");
  return *instance;
}

using Clock = std::chrono::steady_clock;

// What a caller waits at most: twice the call's own timeout, since libatspi
// may start a wait on its direct connection to an application over once (an
// answer that comes in that time is still an answer), and a margin, since
// libdbus starts measuring a little after the job begins and the job may
// have queued behind a release.
constexpr std::chrono::milliseconds margin{250};

Clock::time_point deadlineFor(int timeoutMs) {
  return Clock::now() + 2 * std::chrono::milliseconds(timeoutMs) + margin;
}

// Runs `job` on the worker within the call's bound; timedOut when it did not
// end in time (also when an earlier call that was given up held the worker
// past it). `late` frees what the job made if its caller is gone by then.
template <typename Job>
Outcome bounded(int timeoutMs, Job job, std::function<void()> late = {}) {
  auto outcome = std::make_shared<Outcome>(Outcome::failed);
  const bool ended = worker().run([outcome, job = std::move(job)]() mutable { *outcome = job(); },
                                  deadlineFor(timeoutMs), std::move(late));
  return ended ? *outcome : Outcome::timedOut;
}

// libatspi tells a timeout from other failures only by its message, so the
// time the call took decides: a failed call that used up (nearly) all its
// time had no answer. libdbus measures from a little later than here and
// rounds, so a tenth of the time is given away; a refusal takes far less.
Outcome failure(Clock::time_point started, int timeoutMs) {
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  return took.count() * 10 >= static_cast<long long>(timeoutMs) * 9 ? Outcome::timedOut
                                                                    : Outcome::failed;
}

struct Error {
  GError* error = nullptr;
  ~Error() {
    if (error != nullptr) library()->g_error_free(error);
  }
  GError** slot() { return &error; }
  explicit operator bool() const { return error != nullptr; }
};

AtspiAccessible* accessible(Node node) { return reinterpret_cast<AtspiAccessible*>(node); }
Node nodeOf(AtspiAccessible* object) { return reinterpret_cast<Node>(object); }

// Only touched on the worker: the connection libatspi talks over, once it has
// connected (one reference held here), and the session bus for the
// accessibility switch.
DBusConnection* accessibilityBus = nullptr;
DBusConnection* sessionBus = nullptr;

// Applies to every call libatspi makes from now on. No allowance for
// applications that started a short while ago: a hung new application is
// still hung.
void limitCalls(int timeoutMs) { library()->atspi_set_timeout(timeoutMs, 0); }

struct Message {
  DBusMessage* message = nullptr;
  ~Message() {
    if (message != nullptr) library()->dbus_message_unref(message);
  }
};

// Sends a method call and waits at most `timeoutMs` for its answer; nothing
// on an error answer or none.
DBusMessage* call(DBusConnection* bus, DBusMessage* message, int timeoutMs) {
  const Library& l = *library();
  DBusError error;
  l.dbus_error_init(&error);
  DBusMessage* reply = l.dbus_connection_send_with_reply_and_block(bus, message, timeoutMs, &error);
  l.dbus_error_free(&error);
  if (reply != nullptr && l.dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
    l.dbus_message_unref(reply);
    return nullptr;
  }
  return reply;
}

void closeBus(DBusConnection*& bus) {
  if (bus == nullptr) return;
  library()->dbus_connection_close(bus);
  library()->dbus_connection_unref(bus);
  bus = nullptr;
}

// The session bus, from the address the session gives. Without one no bus is
// started on the agent's behalf. Registering waits for the bus's answer as
// long as libdbus lets it (25 s): only ever on the worker, behind a caller's
// deadline.
DBusConnection* session() {
  const Library& l = *library();
  if (sessionBus != nullptr && l.dbus_connection_get_is_connected(sessionBus)) return sessionBus;
  closeBus(sessionBus);
  std::string address;
  if (const char* given = std::getenv("DBUS_SESSION_BUS_ADDRESS"); given != nullptr && *given) {
    address = given;
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) address = "unix:path=" + socket;
  }
  if (address.empty()) return nullptr;
  DBusError error;
  l.dbus_error_init(&error);
  DBusConnection* bus = l.dbus_connection_open_private(address.c_str(), &error);
  l.dbus_error_free(&error);
  if (bus == nullptr) return nullptr;
  // A session that ends must not end the agent with it.
  l.dbus_connection_set_exit_on_disconnect(bus, FALSE);
  l.dbus_error_init(&error);
  const bool registered = l.dbus_bus_register(bus, &error);
  l.dbus_error_free(&error);
  if (!registered) {
    closeBus(bus);
    return nullptr;
  }
  sessionBus = bus;
  return sessionBus;
}

constexpr const char* launcherName = "org.a11y.Bus";
constexpr const char* launcherPath = "/org/a11y/bus";

// Whether the session's accessibility bus launcher hands out an address.
bool launcherAnswers(int timeoutMs) {
  const Library& l = *library();
  DBusConnection* bus = session();
  if (bus == nullptr) return false;
  Message request{
      l.dbus_message_new_method_call(launcherName, launcherPath, "org.a11y.Bus", "GetAddress")};
  if (request.message == nullptr) return false;
  Message reply{call(bus, request.message, timeoutMs)};
  if (reply.message == nullptr) return false;
  DBusMessageIter iter;
  if (!l.dbus_message_iter_init(reply.message, &iter) ||
      l.dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRING) {
    return false;
  }
  const char* address = nullptr;
  l.dbus_message_iter_get_basic(&iter, &address);
  return address != nullptr && *address != '\0';
}

// Connects libatspi to the accessibility bus, on the worker.
bool connectAccessibilityBus(int timeoutMs) {
  const Library& l = *library();
  // libatspi asks the session for the bus without a time limit and cannot
  // try again after failing, so it is only let in once the bus is there.
  if (!launcherAnswers(timeoutMs)) return false;
  const int initialised = l.atspi_init();
  DBusConnection* bus = initialised == 0 ? l.atspi_get_a11y_bus() : nullptr;
  if (bus == nullptr) {
    l.atspi_exit();  // lets a later request try again
    return false;
  }
  accessibilityBus = l.dbus_connection_ref(bus);
  l.dbus_connection_set_exit_on_disconnect(accessibilityBus, FALSE);
  // libatspi subscribes to every application's tree and ownership changes
  // to keep caches the agent never uses; they are declined. Of the names
  // that change owner only those given up are wanted: an application that
  // exits gives up its name, and libatspi then frees what it kept of it
  // (its objects, its own connection to the application).
  for (const char* rule :
       {"type='signal',interface='org.a11y.atspi.Cache',member='AddAccessible'",
        "type='signal',interface='org.a11y.atspi.Cache',member='RemoveAccessible'",
        "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
        "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
        "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
        "type='signal', interface='org.freedesktop.DBus', member='NameOwnerChanged'"}) {
    l.dbus_bus_remove_match(accessibilityBus, rule, nullptr);
  }
  l.dbus_bus_add_match(
      accessibilityBus,
      "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
      "member='NameOwnerChanged',arg2=''",
      nullptr);
  // libatspi handles what arrives for it (those signals, replies to its own
  // requests, its connections to applications) from GLib's default main
  // context; the worker runs that context whenever it has nothing else to
  // do, so nothing piles up between requests and it wakes only when
  // something arrives.
  const Library* shared = &l;
  worker().setIdle([shared] { shared->g_main_context_iteration(nullptr, TRUE); },
                   [shared] { shared->g_main_context_wakeup(nullptr); });
  return true;
}

bool ready() { return library() != nullptr && accessibilityBus != nullptr; }

std::optional<bool> readSwitch(int timeoutMs) {
  const Library* l = library();
  if (l == nullptr) return std::nullopt;
  DBusConnection* bus = session();
  if (bus == nullptr) return std::nullopt;
  Message request{l->dbus_message_new_method_call(launcherName, launcherPath,
                                                  DBUS_INTERFACE_PROPERTIES, "Get")};
  if (request.message == nullptr) return std::nullopt;
  const char* interface = "org.a11y.Status";
  const char* property = "IsEnabled";
  DBusMessageIter args;
  l->dbus_message_iter_init_append(request.message, &args);
  if (!l->dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &interface) ||
      !l->dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &property)) {
    return std::nullopt;
  }
  Message reply{call(bus, request.message, timeoutMs)};
  if (reply.message == nullptr) return std::nullopt;
  DBusMessageIter iter;
  if (!l->dbus_message_iter_init(reply.message, &iter) ||
      l->dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) {
    return std::nullopt;
  }
  DBusMessageIter variant;
  l->dbus_message_iter_recurse(&iter, &variant);
  if (l->dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_BOOLEAN) return std::nullopt;
  dbus_bool_t value = FALSE;
  l->dbus_message_iter_get_basic(&variant, &value);
  return value != FALSE;
}

bool writeSwitch(bool enabled, int timeoutMs) {
  const Library* l = library();
  if (l == nullptr) return false;
  DBusConnection* bus = session();
  if (bus == nullptr) return false;
  Message request{l->dbus_message_new_method_call(launcherName, launcherPath,
                                                  DBUS_INTERFACE_PROPERTIES, "Set")};
  if (request.message == nullptr) return false;
  const char* interface = "org.a11y.Status";
  const char* property = "IsEnabled";
  const dbus_bool_t value = enabled ? TRUE : FALSE;
  DBusMessageIter args;
  DBusMessageIter variant;
  l->dbus_message_iter_init_append(request.message, &args);
  if (!l->dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &interface) ||
      !l->dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &property) ||
      !l->dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, DBUS_TYPE_BOOLEAN_AS_STRING,
                                           &variant) ||
      !l->dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &value) ||
      !l->dbus_message_iter_close_container(&args, &variant)) {
    return false;
  }
  Message reply{call(bus, request.message, timeoutMs)};
  return reply.message != nullptr;
}

}  // namespace

void release(Node node) {
  if (node == nullptr) return;
  // Without waiting: nothing a caller does hangs on a release.
  worker().post([node] { library()->g_object_unref(accessible(node)); });
}

bool busAnswers(int timeoutMs) {
  const Outcome outcome = bounded(timeoutMs, [timeoutMs] {
    const Library* l = library();
    if (l == nullptr) return Outcome::failed;
    if (accessibilityBus == nullptr && !connectAccessibilityBus(timeoutMs)) return Outcome::failed;
    if (!l->dbus_connection_get_is_connected(accessibilityBus)) return Outcome::failed;
    Message ping{l->dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                 DBUS_INTERFACE_PEER, "Ping")};
    if (ping.message == nullptr) return Outcome::failed;
    Message reply{call(accessibilityBus, ping.message, timeoutMs)};
    return reply.message != nullptr ? Outcome::ok : Outcome::failed;
  });
  return outcome == Outcome::ok;
}

Outcome findApplication(pid_t pid, int timeoutMs, Node* application) {
  *application = nullptr;
  auto found = std::make_shared<Node>(nullptr);
  const Outcome outcome = bounded(
      timeoutMs,
      [pid, timeoutMs, found] {
        if (!ready()) return Outcome::failed;
        const Library& l = *library();
        limitCalls(timeoutMs);
        const auto started = Clock::now();
        AtspiAccessible* desktop = l.atspi_get_desktop(0);
        if (desktop == nullptr) return Outcome::failed;
        Error error;
        const gint count = l.atspi_accessible_get_child_count(desktop, error.slot());
        if (error || count < 0) {
          l.g_object_unref(desktop);
          return failure(started, timeoutMs);
        }
        for (gint i = 0; i < count && *found == nullptr; ++i) {
          Error childError;
          AtspiAccessible* candidate =
              l.atspi_accessible_get_child_at_index(desktop, i, childError.slot());
          if (candidate == nullptr) continue;
          Error pidError;
          const guint candidatePid = l.atspi_accessible_get_process_id(candidate, pidError.slot());
          if (!pidError && candidatePid == static_cast<guint>(pid)) {
            *found = nodeOf(candidate);
          } else {
            l.g_object_unref(candidate);
          }
        }
        l.g_object_unref(desktop);
        return *found != nullptr ? Outcome::ok : Outcome::failed;
      },
      [found] {
        if (*found != nullptr) library()->g_object_unref(accessible(*found));
      });
  if (outcome == Outcome::ok) *application = *found;
  return outcome;
}

Outcome children(Node node, int timeoutMs, std::size_t limit, Clock::time_point deadline,
                 std::vector<Node>* result) {
  result->clear();
  if (node == nullptr) return Outcome::failed;
  auto found = std::make_shared<std::vector<Node>>();
  const Outcome outcome = bounded(
      timeoutMs,
      [node, timeoutMs, limit, deadline, found] {
        if (!ready()) return Outcome::failed;
        const Library& l = *library();
        limitCalls(timeoutMs);
        auto started = Clock::now();
        Error error;
        const gint count = l.atspi_accessible_get_child_count(accessible(node), error.slot());
        if (error || count < 0) return failure(started, timeoutMs);
        // One call per child: a toolkit that claims a vast number of children
        // would otherwise hold the reader for ever. No walk takes more than this.
        constexpr gint mostChildren = 4000;
        gint asked = count < mostChildren ? count : mostChildren;
        if (static_cast<std::size_t>(asked) > limit) asked = static_cast<gint>(limit);
        found->reserve(static_cast<std::size_t>(asked));
        for (gint i = 0; i < asked; ++i) {
          started = Clock::now();
          if (started >= deadline) break;
          Error childError;
          AtspiAccessible* child =
              l.atspi_accessible_get_child_at_index(accessible(node), i, childError.slot());
          if (child != nullptr) {
            found->push_back(nodeOf(child));
            continue;
          }
          if (failure(started, timeoutMs) == Outcome::timedOut) {
            for (Node held : *found) l.g_object_unref(accessible(held));
            found->clear();
            return Outcome::timedOut;
          }
        }
        return Outcome::ok;
      },
      [found] {
        for (Node held : *found) library()->g_object_unref(accessible(held));
      });
  if (outcome == Outcome::ok) *result = std::move(*found);
  return outcome;
}

// One bounded read of a node's text. The text lives in shared storage, since a
// call given up on keeps running on the worker and may still write it.
template <typename Read>
Outcome readText(Node node, int timeoutMs, std::string* out, Read read) {
  if (node == nullptr) return Outcome::failed;
  auto text = std::make_shared<std::string>();
  const Outcome outcome = bounded(timeoutMs, [node, timeoutMs, text, read] {
    if (!ready()) return Outcome::failed;
    limitCalls(timeoutMs);
    return read(*library(), *text);
  });
  if (outcome == Outcome::ok) *out = *text;
  return outcome;
}

namespace {

// Whether an object says it is showing: ok when it does, failed when it does
// not, timedOut when the call that asks goes unanswered (no state set at all
// is that, not a hidden object).
Outcome showing(const Library& l, AtspiAccessible* object, int timeoutMs) {
  const auto started = Clock::now();
  AtspiStateSet* states = l.atspi_accessible_get_state_set(object);
  if (states == nullptr) return failure(started, timeoutMs);
  const bool shown = l.atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
  l.g_object_unref(states);
  return shown ? Outcome::ok : Outcome::failed;
}

// A document is shown when it and the object that holds it are showing. A
// browser's own layout decides whether the frame of a tab is showing, but a
// document's state may come from another process and arrive later: a tab in
// the background can tell that its document is showing for a moment while
// the frame that holds it is already hidden. A document with no parent
// counts by its own state alone.
Outcome documentShowing(const Library& l, AtspiAccessible* document, int timeoutMs) {
  const Outcome own = showing(l, document, timeoutMs);
  if (own != Outcome::ok) return own;
  const auto started = Clock::now();
  Error error;
  AtspiAccessible* parent = l.atspi_accessible_get_parent(document, error.slot());
  if (error) {
    if (parent != nullptr) l.g_object_unref(parent);
    return failure(started, timeoutMs);
  }
  if (parent == nullptr) return Outcome::ok;
  const Outcome held = showing(l, parent, timeoutMs);
  l.g_object_unref(parent);
  return held;
}

}  // namespace

Outcome role(Node node, int timeoutMs, std::string* name) {
  return readText(node, timeoutMs, name, [node, timeoutMs](const Library& l, std::string& text) {
    auto started = Clock::now();
    Error error;
    const AtspiRole value = l.atspi_accessible_get_role(accessible(node), error.slot());
    if (error) return failure(started, timeoutMs);
    if (value == ATSPI_ROLE_DOCUMENT_WEB) {
      const Outcome shown = documentShowing(l, accessible(node), timeoutMs);
      if (shown == Outcome::ok) {
        text = shownWebDocument;
        return Outcome::ok;
      }
      if (shown == Outcome::timedOut) return Outcome::timedOut;
    }
    gchar* roleName = l.atspi_role_get_name(value);
    if (roleName == nullptr) return Outcome::failed;
    text = roleName;
    l.g_free(roleName);
    return Outcome::ok;
  });
}

Outcome documentUrl(Node node, int timeoutMs, std::string* url) {
  return readText(node, timeoutMs, url, [node, timeoutMs](const Library& l, std::string& text) {
    auto started = Clock::now();
    AtspiDocument* document = l.atspi_accessible_get_document_iface(accessible(node));
    if (document == nullptr) return failure(started, timeoutMs);
    started = Clock::now();
    Error error;
    GHashTable* attributes = l.atspi_document_get_document_attributes(document, error.slot());
    l.g_object_unref(document);
    if (attributes == nullptr) return failure(started, timeoutMs);
    bool found = false;
    for (const char* key : {"DocURL", "URI"}) {
      const auto* value = static_cast<const char*>(l.g_hash_table_lookup(attributes, key));
      if (value != nullptr && *value != '\0') {
        text = value;
        found = true;
        break;
      }
    }
    l.g_hash_table_unref(attributes);
    return found ? Outcome::ok : Outcome::failed;
  });
}

std::optional<bool> accessibilityEnabled(int timeoutMs) {
  auto value = std::make_shared<std::optional<bool>>();
  const Outcome outcome = bounded(timeoutMs, [timeoutMs, value] {
    *value = readSwitch(timeoutMs);
    return Outcome::ok;
  });
  if (outcome != Outcome::ok) return std::nullopt;
  return *value;
}

bool setAccessibilityEnabled(bool enabled, int timeoutMs) {
  return bounded(timeoutMs, [enabled, timeoutMs] {
           return writeSwitch(enabled, timeoutMs) ? Outcome::ok : Outcome::failed;
         }) == Outcome::ok;
}

}  // namespace platform::atspi
