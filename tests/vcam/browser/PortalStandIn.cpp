// A stand-in for a desktop's permission dialogs, for the browser test's private session:
// xdg-desktop-portal offers its Camera interface only when a backend for
// org.freedesktop.impl.portal.Access is there for the session's desktop. This one refuses every
// dialog (nobody is there to answer). Before it takes its bus name it stores the camera grant
// for unsandboxed programs (application id "") in the permission store, so that the browser is
// let through without a dialog, as it is on a desktop where the user once said yes.
//
// Usage: kelo-portal-standin BUS_NAME   (runs until SIGTERM; prints "ready" when it owns the name)
#include <cstdio>
#include <gio/gio.h>
#include <glib-unix.h>

namespace {

constexpr const char* kAccessXml = R"(<node>
  <interface name="org.freedesktop.impl.portal.Access">
    <method name="AccessDialog">
      <arg type="o" name="handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="s" name="title" direction="in"/>
      <arg type="s" name="subtitle" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
  </interface>
</node>)";

void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant*, GDBusMethodInvocation* invocation, gpointer) {
    if (g_strcmp0(method, "AccessDialog") == 0) {
        std::fprintf(stderr, "kelo-portal-standin: a dialog was asked for; refused\n");
        // 2: the interaction ended some other way (no user to ask).
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u@a{sv})", 2u,
                                      g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
        return;
    }
    g_dbus_method_invocation_return_dbus_error(
        invocation, "org.freedesktop.DBus.Error.UnknownMethod", "unknown method");
}

gboolean OnTerm(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

void OnNameAcquired(GDBusConnection*, const gchar*, gpointer) {
    std::printf("ready\n");
    std::fflush(stdout);
}

void OnNameLost(GDBusConnection*, const gchar* name, gpointer loop) {
    std::fprintf(stderr, "kelo-portal-standin: lost the bus name %s\n", name);
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelo-portal-standin BUS_NAME\n");
        return 2;
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "kelo-portal-standin: no session bus: %s\n", error->message);
        return 1;
    }
    // The store is started beside this program: it may not have its name yet.
    const gchar* grant[] = {"yes", nullptr};
    GVariant* stored = nullptr;
    for (int attempt = 0; !stored && attempt < 200; ++attempt) {
        g_clear_error(&error);
        stored = g_dbus_connection_call_sync(
            bus, "org.freedesktop.impl.portal.PermissionStore",
            "/org/freedesktop/impl/portal/PermissionStore",
            "org.freedesktop.impl.portal.PermissionStore", "SetPermission",
            g_variant_new("(sbss^as)", "devices", TRUE, "camera", "", grant), nullptr,
            G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr, &error);
        if (!stored)
            g_usleep(100'000);
    }
    if (!stored) {
        std::fprintf(stderr, "kelo-portal-standin: the permission store refused: %s\n",
                     error->message);
        return 1;
    }
    g_variant_unref(stored);

    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kAccessXml, &error);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
    if (!g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                           node->interfaces[0], &vtable, nullptr, nullptr,
                                           &error)) {
        std::fprintf(stderr, "kelo-portal-standin: %s\n", error->message);
        return 1;
    }
    g_unix_signal_add(SIGTERM, OnTerm, loop);
    g_unix_signal_add(SIGINT, OnTerm, loop);
    const guint owner = g_bus_own_name_on_connection(bus, argv[1], G_BUS_NAME_OWNER_FLAGS_NONE,
                                                     OnNameAcquired, OnNameLost, loop, nullptr);
    g_main_loop_run(loop);
    g_bus_unown_name(owner);
    g_main_loop_unref(loop);
    g_dbus_node_info_unref(node);
    g_object_unref(bus);
    return 0;
}
