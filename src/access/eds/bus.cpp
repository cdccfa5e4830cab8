// The session bus and the source registry, each reached on a thread of its own: GDBus greets a new
// bus with a call that takes no cancellable, and the registry reads its sources on a thread that
// its creator waits for without a bound.
#include "access/eds/bus.h"

#include <memory>

namespace tembra::eds {
namespace {

constexpr char kRegistryName[] = "org.gnome.evolution.dataserver.Sources5";
constexpr char kRegistryPath[] = "/org/gnome/evolution/dataserver/SourceManager";

struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};

}  // namespace

bool registryAnswers(Clock::time_point deadline) {
  const Ref<GCancellable> cancellable(g_cancellable_new());
  const auto answered = withinDeadline(deadline, [cancellable = Ref<GCancellable>(G_CANCELLABLE(
                                                      g_object_ref(cancellable.get()))),
                                                  deadline] {
    const Ref<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable.get(), nullptr));
    if (!bus)
      return false;
    // A registry that no one owns answers from the bus at once, with an error; one that can be
    // started is started by this call.
    const std::unique_ptr<GVariant, VariantUnref> reply(g_dbus_connection_call_sync(
        bus.get(), kRegistryName, kRegistryPath, "org.freedesktop.DBus.Peer", "Ping", nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NONE, millisecondsUntil(deadline), cancellable.get(), nullptr));
    return reply != nullptr;
  });
  // A worker still waiting stops at once where it can (the bus's authentication).
  g_cancellable_cancel(cancellable.get());
  return answered.value_or(false);
}

Ref<ESourceRegistry> openRegistry(Clock::time_point deadline) {
  auto opened = withinDeadline(
      deadline, [] { return Ref<ESourceRegistry>(e_source_registry_new_sync(nullptr, nullptr)); });
  return opened ? std::move(*opened) : nullptr;
}

}  // namespace tembra::eds
