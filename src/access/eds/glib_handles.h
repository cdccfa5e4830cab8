// Owning handles for what the EDS back-end receives from GLib, GObject, libical-glib and EDS: every
// reference has one owner that releases it, and a GError becomes text where it arrives.
#pragma once

#include <glib-object.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tembra::eds {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
// One reference to a GObject: an ESource, an ECalClient, an ICalComponent, an ICalTime, ...
template <class T>
using Ref = std::unique_ptr<T, ObjectUnref>;

struct TextFree {
  void operator()(gchar* text) const { g_free(text); }
};
// A string the caller owns (transfer full).
using Text = std::unique_ptr<gchar, TextFree>;

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};

// The references a list holds (transfer full), taken out of it; the list itself is freed.
template <class T>
std::vector<Ref<T>> takeAll(GSList* list) {
  std::vector<Ref<T>> items;
  for (GSList* link = list; link; link = link->next)
    items.emplace_back(static_cast<T*>(link->data));
  g_slist_free(list);
  return items;
}

template <class T>
std::vector<Ref<T>> takeAll(GList* list) {
  std::vector<Ref<T>> items;
  for (GList* link = list; link; link = link->next)
    items.emplace_back(static_cast<T*>(link->data));
  g_list_free(list);
  return items;
}

// Runs a call that reports failure through a GError out-parameter and a false result. Returns the
// error's message when it failed, and nothing when it succeeded.
template <class Call>
std::optional<std::string> failureOf(Call&& call) {
  GError* raw = nullptr;
  const bool succeeded = std::forward<Call>(call)(&raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  if (succeeded && !error)
    return std::nullopt;
  return std::string(error && error->message ? error->message : "");
}

}  // namespace tembra::eds
