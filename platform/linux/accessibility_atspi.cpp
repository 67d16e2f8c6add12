#include "platform/linux/accessibility_atspi.h"

// Only the types and constants of these headers are used; every function is
// looked up at run time.
#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <dlfcn.h>
#undef dlsym  // the real lookup: these libraries are the system's own

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform::atspi {

struct Object {};  // stands for an AtspiAccessible; never defined further

namespace {

// The functions used, by their real prototypes.
struct Library {
  decltype(&::atspi_init) init;
  decltype(&::atspi_exit) exit;
  decltype(&::atspi_set_timeout) setTimeout;
  decltype(&::atspi_get_a11y_bus) a11yBus;
  decltype(&::atspi_get_desktop) desktop;
  decltype(&::atspi_accessible_get_child_count) childCount;
  decltype(&::atspi_accessible_get_child_at_index) childAtIndex;
  decltype(&::atspi_accessible_get_process_id) processId;
  decltype(&::atspi_accessible_get_role) role;
  decltype(&::atspi_role_get_name) roleName;
  decltype(&::atspi_accessible_get_state_set) stateSet;
  decltype(&::atspi_state_set_contains) stateSetContains;
  decltype(&::atspi_accessible_get_document_iface) documentIface;
  decltype(&::atspi_document_get_document_attributes) documentAttributes;

  decltype(&::g_object_unref) objectUnref;
  decltype(&::g_error_free) errorFree;
  decltype(&::g_free) free;
  decltype(&::g_hash_table_lookup) hashLookup;
  decltype(&::g_hash_table_unref) hashUnref;
  decltype(&::g_log_set_default_handler) logSetDefaultHandler;
  decltype(&::g_log_set_writer_func) logSetWriterFunc;

  decltype(&::dbus_error_init) dbusErrorInit;
  decltype(&::dbus_error_free) dbusErrorFree;
  decltype(&::dbus_connection_open_private) dbusOpenPrivate;
  decltype(&::dbus_bus_register) dbusBusRegister;
  decltype(&::dbus_bus_remove_match) dbusRemoveMatch;
  decltype(&::dbus_connection_set_exit_on_disconnect) dbusSetExitOnDisconnect;
  decltype(&::dbus_connection_get_is_connected) dbusIsConnected;
  decltype(&::dbus_connection_close) dbusClose;
  decltype(&::dbus_connection_ref) dbusConnectionRef;
  decltype(&::dbus_connection_unref) dbusConnectionUnref;
  decltype(&::dbus_connection_send_with_reply_and_block) dbusSendAndBlock;
  decltype(&::dbus_message_new_method_call) dbusNewMethodCall;
  decltype(&::dbus_message_unref) dbusMessageUnref;
  decltype(&::dbus_message_get_type) dbusMessageType;
  decltype(&::dbus_message_iter_init) dbusIterInit;
  decltype(&::dbus_message_iter_init_append) dbusIterInitAppend;
  decltype(&::dbus_message_iter_append_basic) dbusIterAppendBasic;
  decltype(&::dbus_message_iter_open_container) dbusIterOpen;
  decltype(&::dbus_message_iter_close_container) dbusIterClose;
  decltype(&::dbus_message_iter_get_arg_type) dbusIterArgType;
  decltype(&::dbus_message_iter_recurse) dbusIterRecurse;
  decltype(&::dbus_message_iter_get_basic) dbusIterGetBasic;
};

template <typename F>
bool find(void* handle, const char* name, F* slot) {
  // Object and function pointers share a representation on every platform
  // that has dlsym.
  *slot = reinterpret_cast<F>(::dlsym(handle, name));
  return *slot != nullptr;
}

void quietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
GLogWriterOutput quietWriter(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

// Loads everything once; answers nothing when any library or function is
// missing, which leaves the desktop's accessibility unreachable.
const Library* library() {
  static const Library* loaded = [] () -> const Library* {
    constexpr int mode = RTLD_NOW | RTLD_LOCAL;
    void* atspiHandle = dlopen("libatspi.so.0", mode);
    void* gobjectHandle = dlopen("libgobject-2.0.so.0", mode);
    void* glibHandle = dlopen("libglib-2.0.so.0", mode);
    void* dbusHandle = dlopen("libdbus-1.so.3", mode);
    if (atspiHandle == nullptr || gobjectHandle == nullptr || glibHandle == nullptr ||
        dbusHandle == nullptr) {
      return nullptr;
    }
    auto* l = new Library{};
    const bool complete =
        find(atspiHandle, "atspi_init", &l->init) && find(atspiHandle, "atspi_exit", &l->exit) &&
        find(atspiHandle, "atspi_set_timeout", &l->setTimeout) &&
        find(atspiHandle, "atspi_get_a11y_bus", &l->a11yBus) &&
        find(atspiHandle, "atspi_get_desktop", &l->desktop) &&
        find(atspiHandle, "atspi_accessible_get_child_count", &l->childCount) &&
        find(atspiHandle, "atspi_accessible_get_child_at_index", &l->childAtIndex) &&
        find(atspiHandle, "atspi_accessible_get_process_id", &l->processId) &&
        find(atspiHandle, "atspi_accessible_get_role", &l->role) &&
        find(atspiHandle, "atspi_role_get_name", &l->roleName) &&
        find(atspiHandle, "atspi_accessible_get_state_set", &l->stateSet) &&
        find(atspiHandle, "atspi_state_set_contains", &l->stateSetContains) &&
        find(atspiHandle, "atspi_accessible_get_document_iface", &l->documentIface) &&
        find(atspiHandle, "atspi_document_get_document_attributes", &l->documentAttributes) &&
        find(gobjectHandle, "g_object_unref", &l->objectUnref) &&
        find(glibHandle, "g_error_free", &l->errorFree) && find(glibHandle, "g_free", &l->free) &&
        find(glibHandle, "g_hash_table_lookup", &l->hashLookup) &&
        find(glibHandle, "g_hash_table_unref", &l->hashUnref) &&
        find(glibHandle, "g_log_set_default_handler", &l->logSetDefaultHandler) &&
        find(glibHandle, "g_log_set_writer_func", &l->logSetWriterFunc) &&
        find(dbusHandle, "dbus_error_init", &l->dbusErrorInit) &&
        find(dbusHandle, "dbus_error_free", &l->dbusErrorFree) &&
        find(dbusHandle, "dbus_connection_open_private", &l->dbusOpenPrivate) &&
        find(dbusHandle, "dbus_bus_register", &l->dbusBusRegister) &&
        find(dbusHandle, "dbus_bus_remove_match", &l->dbusRemoveMatch) &&
        find(dbusHandle, "dbus_connection_set_exit_on_disconnect", &l->dbusSetExitOnDisconnect) &&
        find(dbusHandle, "dbus_connection_get_is_connected", &l->dbusIsConnected) &&
        find(dbusHandle, "dbus_connection_close", &l->dbusClose) &&
        find(dbusHandle, "dbus_connection_ref", &l->dbusConnectionRef) &&
        find(dbusHandle, "dbus_connection_unref", &l->dbusConnectionUnref) &&
        find(dbusHandle, "dbus_connection_send_with_reply_and_block", &l->dbusSendAndBlock) &&
        find(dbusHandle, "dbus_message_new_method_call", &l->dbusNewMethodCall) &&
        find(dbusHandle, "dbus_message_unref", &l->dbusMessageUnref) &&
        find(dbusHandle, "dbus_message_get_type", &l->dbusMessageType) &&
        find(dbusHandle, "dbus_message_iter_init", &l->dbusIterInit) &&
        find(dbusHandle, "dbus_message_iter_init_append", &l->dbusIterInitAppend) &&
        find(dbusHandle, "dbus_message_iter_append_basic", &l->dbusIterAppendBasic) &&
        find(dbusHandle, "dbus_message_iter_open_container", &l->dbusIterOpen) &&
        find(dbusHandle, "dbus_message_iter_close_container", &l->dbusIterClose) &&
        find(dbusHandle, "dbus_message_iter_get_arg_type", &l->dbusIterArgType) &&
        find(dbusHandle, "dbus_message_iter_recurse", &l->dbusIterRecurse) &&
        find(dbusHandle, "dbus_message_iter_get_basic", &l->dbusIterGetBasic);
    if (!complete) {
      delete l;
      return nullptr;
    }
    // The agent writes nothing but its messages: the libraries' warnings
    // (a missing bus, a vanished application) are dropped.
    l->logSetDefaultHandler(quietLog, nullptr);
    l->logSetWriterFunc(quietWriter, nullptr, nullptr);
    return l;
  }();
  return loaded;
}

// The one thread allowed to call in: the first that does.
bool onOwnerThread() {
  static const std::thread::id owner = std::this_thread::get_id();
  return std::this_thread::get_id() == owner;
}

using Clock = std::chrono::steady_clock;

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
    if (error != nullptr) library()->errorFree(error);
  }
  GError** slot() { return &error; }
  explicit operator bool() const { return error != nullptr; }
};

AtspiAccessible* accessible(Node node) { return reinterpret_cast<AtspiAccessible*>(node); }
Node nodeOf(AtspiAccessible* object) { return reinterpret_cast<Node>(object); }

// The connection libatspi talks over, once it has connected (one reference
// held here), and the session bus for the accessibility switch.
DBusConnection* accessibilityBus = nullptr;
DBusConnection* sessionBus = nullptr;

// Applies to every call libatspi makes from now on. No allowance for
// applications that started a short while ago: a hung new application is
// still hung.
void bound(int timeoutMs) { library()->setTimeout(timeoutMs, 0); }

struct Message {
  DBusMessage* message = nullptr;
  ~Message() {
    if (message != nullptr) library()->dbusMessageUnref(message);
  }
};

// Sends a method call and waits at most `timeoutMs` for its answer; nothing
// on an error answer or none.
DBusMessage* call(DBusConnection* bus, DBusMessage* message, int timeoutMs) {
  const Library& l = *library();
  DBusError error;
  l.dbusErrorInit(&error);
  DBusMessage* reply = l.dbusSendAndBlock(bus, message, timeoutMs, &error);
  l.dbusErrorFree(&error);
  if (reply != nullptr && l.dbusMessageType(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
    l.dbusMessageUnref(reply);
    return nullptr;
  }
  return reply;
}

void closeBus(DBusConnection*& bus) {
  if (bus == nullptr) return;
  library()->dbusClose(bus);
  library()->dbusConnectionUnref(bus);
  bus = nullptr;
}

// The session bus, from the address the session gives. Without one no bus is
// started on the agent's behalf.
DBusConnection* session() {
  const Library& l = *library();
  if (sessionBus != nullptr && l.dbusIsConnected(sessionBus)) return sessionBus;
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
  l.dbusErrorInit(&error);
  DBusConnection* bus = l.dbusOpenPrivate(address.c_str(), &error);
  l.dbusErrorFree(&error);
  if (bus == nullptr) return nullptr;
  // A session that ends must not end the agent with it.
  l.dbusSetExitOnDisconnect(bus, FALSE);
  l.dbusErrorInit(&error);
  const bool registered = l.dbusBusRegister(bus, &error);
  l.dbusErrorFree(&error);
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
  Message request{l.dbusNewMethodCall(launcherName, launcherPath, "org.a11y.Bus", "GetAddress")};
  if (request.message == nullptr) return false;
  Message reply{call(bus, request.message, timeoutMs)};
  if (reply.message == nullptr) return false;
  DBusMessageIter iter;
  if (!l.dbusIterInit(reply.message, &iter) || l.dbusIterArgType(&iter) != DBUS_TYPE_STRING) {
    return false;
  }
  const char* address = nullptr;
  l.dbusIterGetBasic(&iter, &address);
  return address != nullptr && *address != '\0';
}

bool ready() { return library() != nullptr && accessibilityBus != nullptr && onOwnerThread(); }

}  // namespace

void release(Node node) {
  if (node != nullptr && library() != nullptr) library()->objectUnref(accessible(node));
}

bool busAnswers(int timeoutMs) {
  const Library* l = library();
  if (l == nullptr || !onOwnerThread()) return false;
  if (accessibilityBus == nullptr) {
    // libatspi asks the session for the bus without a time limit and cannot
    // try again after failing, so it is only let in once the bus is there.
    if (!launcherAnswers(timeoutMs)) return false;
    const int initialised = l->init();
    DBusConnection* bus = initialised == 0 ? l->a11yBus() : nullptr;
    if (bus == nullptr) {
      l->exit();  // lets a later request try again
      return false;
    }
    accessibilityBus = l->dbusConnectionRef(bus);
    l->dbusSetExitOnDisconnect(accessibilityBus, FALSE);
    // libatspi subscribes to every application's tree and ownership changes
    // to keep caches the agent never uses. Nothing reads the bus between
    // requests, so those signals would pile up for hours; they are declined.
    for (const char* rule : {
             "type='signal',interface='org.a11y.atspi.Cache',member='AddAccessible'",
             "type='signal',interface='org.a11y.atspi.Cache',member='RemoveAccessible'",
             "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
             "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
             "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
             "type='signal',interface='org.freedesktop.DBus',member='NameOwnerChanged'"}) {
      l->dbusRemoveMatch(accessibilityBus, rule, nullptr);
    }
  }
  if (!l->dbusIsConnected(accessibilityBus)) return false;
  Message ping{l->dbusNewMethodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_PEER, "Ping")};
  if (ping.message == nullptr) return false;
  Message reply{call(accessibilityBus, ping.message, timeoutMs)};
  return reply.message != nullptr;
}

Outcome findApplication(pid_t pid, int timeoutMs, Node* application) {
  *application = nullptr;
  if (!ready()) return Outcome::failed;
  const Library& l = *library();
  bound(timeoutMs);
  const auto started = Clock::now();
  AtspiAccessible* desktop = l.desktop(0);
  if (desktop == nullptr) return Outcome::failed;
  Error error;
  const gint count = l.childCount(desktop, error.slot());
  if (error || count < 0) {
    l.objectUnref(desktop);
    return failure(started, timeoutMs);
  }
  for (gint i = 0; i < count && *application == nullptr; ++i) {
    Error childError;
    AtspiAccessible* candidate = l.childAtIndex(desktop, i, childError.slot());
    if (candidate == nullptr) continue;
    Error pidError;
    const guint candidatePid = l.processId(candidate, pidError.slot());
    if (!pidError && candidatePid == static_cast<guint>(pid)) {
      *application = nodeOf(candidate);
    } else {
      l.objectUnref(candidate);
    }
  }
  l.objectUnref(desktop);
  return *application != nullptr ? Outcome::ok : Outcome::failed;
}

Outcome children(Node node, int timeoutMs, std::vector<Node>* result) {
  result->clear();
  if (!ready() || node == nullptr) return Outcome::failed;
  const Library& l = *library();
  bound(timeoutMs);
  auto started = Clock::now();
  Error error;
  const gint count = l.childCount(accessible(node), error.slot());
  if (error || count < 0) return failure(started, timeoutMs);
  // One call per child: a toolkit that claims a vast number of children
  // would otherwise hold the reader for ever. No walk takes more than this.
  constexpr gint mostChildren = 4000;
  const gint asked = count < mostChildren ? count : mostChildren;
  result->reserve(static_cast<std::size_t>(asked));
  for (gint i = 0; i < asked; ++i) {
    started = Clock::now();
    Error childError;
    AtspiAccessible* child = l.childAtIndex(accessible(node), i, childError.slot());
    if (child != nullptr) {
      result->push_back(nodeOf(child));
      continue;
    }
    if (failure(started, timeoutMs) == Outcome::timedOut) {
      for (Node held : *result) release(held);
      result->clear();
      return Outcome::timedOut;
    }
  }
  return Outcome::ok;
}

Outcome role(Node node, int timeoutMs, std::string* name) {
  if (!ready() || node == nullptr) return Outcome::failed;
  const Library& l = *library();
  bound(timeoutMs);
  auto started = Clock::now();
  Error error;
  const AtspiRole value = l.role(accessible(node), error.slot());
  if (error) return failure(started, timeoutMs);
  if (value == ATSPI_ROLE_DOCUMENT_WEB) {
    started = Clock::now();
    AtspiStateSet* states = l.stateSet(accessible(node));
    const bool showing = states != nullptr && l.stateSetContains(states, ATSPI_STATE_SHOWING);
    if (states != nullptr) l.objectUnref(states);
    if (showing) {
      *name = "AXWebArea";
      return Outcome::ok;
    }
    // No state set at all is an unanswered call, not a hidden document.
    if (failure(started, timeoutMs) == Outcome::timedOut) return Outcome::timedOut;
  }
  gchar* text = l.roleName(value);
  if (text == nullptr) return Outcome::failed;
  *name = text;
  l.free(text);
  return Outcome::ok;
}

Outcome documentUrl(Node node, int timeoutMs, std::string* url) {
  if (!ready() || node == nullptr) return Outcome::failed;
  const Library& l = *library();
  bound(timeoutMs);
  auto started = Clock::now();
  AtspiDocument* document = l.documentIface(accessible(node));
  if (document == nullptr) return failure(started, timeoutMs);
  started = Clock::now();
  Error error;
  GHashTable* attributes = l.documentAttributes(document, error.slot());
  l.objectUnref(document);
  if (attributes == nullptr) return failure(started, timeoutMs);
  const char* found = nullptr;
  for (const char* key : {"DocURL", "URI"}) {
    const auto* value = static_cast<const char*>(l.hashLookup(attributes, key));
    if (value != nullptr && *value != '\0') {
      found = value;
      break;
    }
  }
  if (found != nullptr) *url = found;
  l.hashUnref(attributes);
  return found != nullptr ? Outcome::ok : Outcome::failed;
}

std::optional<bool> accessibilityEnabled(int timeoutMs) {
  const Library* l = library();
  if (l == nullptr || !onOwnerThread()) return std::nullopt;
  DBusConnection* bus = session();
  if (bus == nullptr) return std::nullopt;
  Message request{l->dbusNewMethodCall(launcherName, launcherPath, DBUS_INTERFACE_PROPERTIES, "Get")};
  if (request.message == nullptr) return std::nullopt;
  const char* interface = "org.a11y.Status";
  const char* property = "IsEnabled";
  DBusMessageIter args;
  l->dbusIterInitAppend(request.message, &args);
  if (!l->dbusIterAppendBasic(&args, DBUS_TYPE_STRING, &interface) ||
      !l->dbusIterAppendBasic(&args, DBUS_TYPE_STRING, &property)) {
    return std::nullopt;
  }
  Message reply{call(bus, request.message, timeoutMs)};
  if (reply.message == nullptr) return std::nullopt;
  DBusMessageIter iter;
  if (!l->dbusIterInit(reply.message, &iter) || l->dbusIterArgType(&iter) != DBUS_TYPE_VARIANT) {
    return std::nullopt;
  }
  DBusMessageIter variant;
  l->dbusIterRecurse(&iter, &variant);
  if (l->dbusIterArgType(&variant) != DBUS_TYPE_BOOLEAN) return std::nullopt;
  dbus_bool_t value = FALSE;
  l->dbusIterGetBasic(&variant, &value);
  return value != FALSE;
}

bool setAccessibilityEnabled(bool enabled, int timeoutMs) {
  const Library* l = library();
  if (l == nullptr || !onOwnerThread()) return false;
  DBusConnection* bus = session();
  if (bus == nullptr) return false;
  Message request{l->dbusNewMethodCall(launcherName, launcherPath, DBUS_INTERFACE_PROPERTIES, "Set")};
  if (request.message == nullptr) return false;
  const char* interface = "org.a11y.Status";
  const char* property = "IsEnabled";
  const dbus_bool_t value = enabled ? TRUE : FALSE;
  DBusMessageIter args;
  DBusMessageIter variant;
  l->dbusIterInitAppend(request.message, &args);
  if (!l->dbusIterAppendBasic(&args, DBUS_TYPE_STRING, &interface) ||
      !l->dbusIterAppendBasic(&args, DBUS_TYPE_STRING, &property) ||
      !l->dbusIterOpen(&args, DBUS_TYPE_VARIANT, DBUS_TYPE_BOOLEAN_AS_STRING, &variant) ||
      !l->dbusIterAppendBasic(&variant, DBUS_TYPE_BOOLEAN, &value) ||
      !l->dbusIterClose(&args, &variant)) {
    return false;
  }
  Message reply{call(bus, request.message, timeoutMs)};
  return reply.message != nullptr;
}

}  // namespace platform::atspi
