// An accessible application for the real-service tests, small enough to know
// exactly what it offers: it registers with the accessibility bus given on
// its command line and answers AT-SPI's calls for a fixed tree of windows,
// each with one showing web document and a number of plain panels.
//
//   tondrel_fake_accessible_app BUS-ADDRESS URL [WINDOWS [PANELS [BEHIND]]]
//
// BEHIND adds that many background tabs to every window: a frame that is not
// showing holding a document at URL + "behind" that claims to be showing, as a
// browser's background tab may while its content process catches up.
//
// It writes "ready" on standard output once the registry has taken it in,
// and runs until it is stopped.
#include <atspi/atspi-constants.h>
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Object {
  AtspiRole role;
  int parent;  // -1 for the root
  std::vector<int> children;
  bool document = false;
  bool hidden = false;      // not showing
  bool background = false;  // a document in a background tab
};

std::vector<Object> objects;
std::string url;
std::string uniqueName;

const char* const rootPath = "/org/a11y/atspi/accessible/root";
const char* const nullPath = "/org/a11y/atspi/null";

std::string pathOf(int id) {
  return id == 0 ? rootPath : "/org/a11y/atspi/accessible/" + std::to_string(id);
}

int idOf(const char* path) {
  const std::string text = path;
  if (text == rootPath) return 0;
  const std::string prefix = "/org/a11y/atspi/accessible/";
  if (text.rfind(prefix, 0) != 0) return -1;
  const int id = std::atoi(text.c_str() + prefix.size());
  return id > 0 && id < static_cast<int>(objects.size()) ? id : -1;
}

int add(AtspiRole role, int parent) {
  objects.push_back(Object{role, parent, {}, false});
  const int id = static_cast<int>(objects.size()) - 1;
  if (parent >= 0) objects[static_cast<std::size_t>(parent)].children.push_back(id);
  return id;
}

GVariant* reference(int id) {
  if (id < 0) return g_variant_new("(so)", "", nullPath);
  return g_variant_new("(so)", uniqueName.c_str(), pathOf(id).c_str());
}

// The reply's body, or null for an error reply.
GVariant* answer(const Object& object, int id, const char* interface, const char* member,
                 GVariant* body) {
  const std::string i = interface != nullptr ? interface : "";
  const std::string m = member != nullptr ? member : "";
  if (i == "org.freedesktop.DBus.Properties" && m == "Get") {
    const gchar* propertyInterface = nullptr;
    const gchar* property = nullptr;
    g_variant_get(body, "(&s&s)", &propertyInterface, &property);
    const std::string p = property;
    if (p == "ChildCount") {
      return g_variant_new("(v)", g_variant_new_int32(static_cast<gint32>(object.children.size())));
    }
    if (p == "Name") return g_variant_new("(v)", g_variant_new_string("fake"));
    if (p == "Description") return g_variant_new("(v)", g_variant_new_string(""));
    if (p == "Parent") return g_variant_new("(v)", reference(object.parent));
    if (p == "Id") return g_variant_new("(v)", g_variant_new_int32(0));
    if (p == "ToolkitName") return g_variant_new("(v)", g_variant_new_string("fake"));
    return nullptr;
  }
  if (i == "org.a11y.atspi.Accessible") {
    if (m == "GetChildAtIndex") {
      gint32 index = 0;
      g_variant_get(body, "(i)", &index);
      const int child = index >= 0 && index < static_cast<int>(object.children.size())
                            ? object.children[static_cast<std::size_t>(index)]
                            : -1;
      return g_variant_new("(@(so))", reference(child));
    }
    if (m == "GetRole") return g_variant_new("(u)", static_cast<guint32>(object.role));
    if (m == "GetState") {
      guint32 words[2] = {0, 0};
      for (const int state : {ATSPI_STATE_SHOWING, ATSPI_STATE_VISIBLE, ATSPI_STATE_ENABLED}) {
        if (object.hidden && state == ATSPI_STATE_SHOWING) continue;
        words[state / 32] |= 1U << (state % 32);
      }
      GVariantBuilder builder;
      g_variant_builder_init(&builder, G_VARIANT_TYPE("au"));
      g_variant_builder_add(&builder, "u", words[0]);
      g_variant_builder_add(&builder, "u", words[1]);
      return g_variant_new("(au)", &builder);
    }
    if (m == "GetInterfaces") {
      GVariantBuilder builder;
      g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
      g_variant_builder_add(&builder, "s", "org.a11y.atspi.Accessible");
      if (object.document) g_variant_builder_add(&builder, "s", "org.a11y.atspi.Document");
      if (id == 0) g_variant_builder_add(&builder, "s", "org.a11y.atspi.Application");
      return g_variant_new("(as)", &builder);
    }
    if (m == "GetAttributes") {
      GVariantBuilder builder;
      g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
      return g_variant_new("(a{ss})", &builder);
    }
    return nullptr;
  }
  if (i == "org.a11y.atspi.Document" && m == "GetAttributes" && object.document) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
    const std::string address = object.background ? url + "behind" : url;
    g_variant_builder_add(&builder, "{ss}", "DocURL", address.c_str());
    return g_variant_new("(a{ss})", &builder);
  }
  if (i == "org.a11y.atspi.Application" && m == "GetApplicationBusAddress" && id == 0) {
    // No connection of its own: everything goes over the bus.
    return g_variant_new("(s)", "");
  }
  return nullptr;
}

// Answers every call to this application from GDBus's own thread.
GDBusMessage* onMessage(GDBusConnection* connection, GDBusMessage* message, gboolean incoming,
                        gpointer) {
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
    return message;
  }
  const char* path = g_dbus_message_get_path(message);
  const int id = path != nullptr ? idOf(path) : -1;
  GVariant* body = nullptr;
  if (id >= 0) {
    body = answer(objects[static_cast<std::size_t>(id)], id, g_dbus_message_get_interface(message),
                  g_dbus_message_get_member(message), g_dbus_message_get_body(message));
  }
  GDBusMessage* reply = nullptr;
  if (body != nullptr) {
    reply = g_dbus_message_new_method_reply(message);
    g_dbus_message_set_body(reply, body);
  } else {
    reply = g_dbus_message_new_method_error(message, "org.freedesktop.DBus.Error.UnknownMethod",
                                            "not offered");
  }
  g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                 nullptr);
  g_object_unref(reply);
  g_object_unref(message);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s BUS-ADDRESS URL [WINDOWS [PANELS [BEHIND]]]\n", argv[0]);
    return 2;
  }
  url = argv[2];
  const int windows = argc > 3 ? std::atoi(argv[3]) : 1;
  const int panels = argc > 4 ? std::atoi(argv[4]) : 0;
  const int behind = argc > 5 ? std::atoi(argv[5]) : 0;
  add(ATSPI_ROLE_APPLICATION, -1);
  for (int w = 0; w < windows; ++w) {
    const int frame = add(ATSPI_ROLE_FRAME, 0);
    for (int p = 0; p < panels; ++p) add(ATSPI_ROLE_PANEL, frame);
    const int document = add(ATSPI_ROLE_DOCUMENT_WEB, frame);
    objects[static_cast<std::size_t>(document)].document = true;
    for (int b = 0; b < behind; ++b) {
      const int tab = add(ATSPI_ROLE_INTERNAL_FRAME, frame);
      objects[static_cast<std::size_t>(tab)].hidden = true;
      const int background = add(ATSPI_ROLE_DOCUMENT_WEB, tab);
      objects[static_cast<std::size_t>(background)].document = true;
      objects[static_cast<std::size_t>(background)].background = true;
    }
  }

  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      argv[1],
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (bus == nullptr) {
    std::fprintf(stderr, "connecting: %s\n", error->message);
    return 1;
  }
  uniqueName = g_dbus_connection_get_unique_name(bus);
  g_dbus_connection_add_filter(bus, onMessage, nullptr, nullptr);
  GVariant* embedded = g_dbus_connection_call_sync(
      bus, "org.a11y.atspi.Registry", rootPath, "org.a11y.atspi.Socket", "Embed",
      g_variant_new("((so))", uniqueName.c_str(), rootPath), G_VARIANT_TYPE("((so))"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
  if (embedded == nullptr) {
    std::fprintf(stderr, "registering: %s\n", error->message);
    return 1;
  }
  g_variant_unref(embedded);
  std::printf("ready\n");
  std::fflush(stdout);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);
  return 0;
}
