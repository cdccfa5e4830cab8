// tembra-eds-fixture: sets up EDS for tests through EDS's own client libraries, as the GNOME
// desktop's programs would, and shows what they read back. Runs inside tests/eds/eds_session.
//   reset                                   remove what tests added: calendars and accounts,
//                                           the events of Personal, the contacts (and so the
//                                           Birthdays calendar's events)
//   add-calendar --title T [--source S] [--color #RRGGBB] [--caldav URL]
//                                           prints the calendar's UID; with --caldav a CalDAV
//                                           calendar at URL, else one on this computer
//   disable CALENDAR [--account]            switches the calendar, or its account, off
//   set-default UID                         the default calendar, as GNOME's programs set it
//   hold CALENDAR                           keeps the calendar open until killed, as GNOME Shell
//                                           does; prints a line once it is open
//   generate CALENDAR|FILE.ics EVENTS SERIES
//                                           writes the calendar's file before EDS opens it (or
//                                           the file): EVENTS one-hour events over 2024 and 2025,
//                                           every third with an alarm, and SERIES weekly series
//                                           without end from the first week of 2024, each at a
//                                           whole hour
//   window CALENDAR FROM TO                 tembra's EDS store's window over the calendar, in
//                                           process: "<events> <occurrences>"
//   import CALENDAR FILE.ics                the masters are created, then each detached instance
//                                           saved with E_CAL_OBJ_MOD_THIS; prints tembra's id
//   add-birthday NAME YYYY-MM-DD            a contact; prints tembra's id of its birthday
//   change-occurrence CALENDAR UID RECURRENCE-ID TITLE
//                                           the occurrence retitled as GNOME's programs change
//                                           one: built with e_cal_util_construct_instance (it
//                                           keeps the master's DTSTART and RRULE), then saved
//                                           with E_CAL_OBJ_MOD_THIS
//   show CALENDAR UID                       the UID's VEVENTs as the client library reads them
//   occurrences CALENDAR UID FROM TO        the UID's occurrences in the window as the client
//                                           library generates them (as GNOME's programs show
//                                           them), one start a line, in UTC
//   file CALENDAR                           the calendar's file as the file back-end wrote it
//   race EVENT-ID                           two in-process updates of the event at once, then a
//                                           save of it after another removed it: prints the
//                                           title and notes left, and "gone" or "saved"
#include <libebook/libebook.h>
#include <libecal/libecal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "access/eds/eds_store.h"
#include "access/eds/glib_handles.h"
#include "access/eds/identifiers.h"
#include "access/eds/times.h"

namespace tembra::eds {
namespace {

constexpr guint32 kNoWait = static_cast<guint32>(-1);

// A list whose items belong to someone else.
struct ListFree {
  void operator()(GSList* list) const { g_slist_free(list); }
};

[[noreturn]] void die(const std::string& message) {
  std::cerr << "tembra-eds-fixture: " << message << "\n";
  std::exit(1);
}

template <class Call>
void check(const char* what, Call&& call) {
  if (const auto error = failureOf(std::forward<Call>(call)))
    die(std::string(what) + ": " + *error);
}

Ref<ESourceRegistry> openRegistry() {
  Ref<ESourceRegistry> registry;
  check("registry", [&](GError** error) {
    registry.reset(e_source_registry_new_sync(nullptr, error));
    return registry != nullptr;
  });
  return registry;
}

Ref<ECalClient> calendar(ESourceRegistry* registry, const std::string& uid) {
  const Ref<ESource> source(e_source_registry_ref_source(registry, uid.c_str()));
  if (!source)
    die("no calendar " + uid);
  Ref<ECalClient> client;
  check("connect", [&](GError** error) {
    client.reset(reinterpret_cast<ECalClient*>(e_cal_client_connect_sync(
        source.get(), E_CAL_CLIENT_SOURCE_TYPE_EVENTS, kNoWait, nullptr, error)));
    return client != nullptr;
  });
  return client;
}

Ref<EBookClient> addressBook(ESourceRegistry* registry) {
  const Ref<ESource> source(e_source_registry_ref_builtin_address_book(registry));
  Ref<EBookClient> client;
  check("address book", [&](GError** error) {
    client.reset(reinterpret_cast<EBookClient*>(
        e_book_client_connect_sync(source.get(), kNoWait, nullptr, error)));
    return client != nullptr;
  });
  return client;
}

std::vector<Ref<ICalComponent>> objects(ECalClient* client, const char* sexp) {
  GSList* found = nullptr;
  check("query", [&](GError** error) {
    return e_cal_client_get_object_list_sync(client, sexp, &found, nullptr, error);
  });
  return takeAll<ICalComponent>(found);
}

// The Birthdays calendar follows the address book on its own time.
template <class Done>
void waitFor(const char* what, Done&& done) {
  for (int tries = 0; tries < 200; ++tries) {
    if (done())
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  die(std::string("timed out waiting for ") + what);
}

void reset(ESourceRegistry* registry) {
  e_source_registry_set_default_calendar(registry, nullptr);
  g_settings_sync();
  for (const Ref<ESource>& source :
       takeAll<ESource>(e_source_registry_list_sources(registry, nullptr))) {
    if (e_source_get_removable(source.get()))
      check("remove calendar",
            [&](GError** error) { return e_source_remove_sync(source.get(), nullptr, error); });
  }
  const Ref<ECalClient> personal = calendar(registry, "system-calendar");
  // A series' instances come with its master: removing it once removes them all.
  for (const Ref<ICalComponent>& event : objects(personal.get(), "#t")) {
    failureOf([&](GError** error) {
      return e_cal_client_remove_object_sync(personal.get(), i_cal_component_get_uid(event.get()),
                                             nullptr, E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE,
                                             nullptr, error);
    });
  }
  const Ref<EBookClient> book = addressBook(registry);
  GSList* uids = nullptr;
  check("contacts", [&](GError** error) {
    return e_book_client_get_contacts_uids_sync(
        book.get(), "(contains \"x-evolution-any-field\" \"\")", &uids, nullptr, error);
  });
  if (uids) {
    check("remove contacts", [&](GError** error) {
      return e_book_client_remove_contacts_sync(book.get(), uids, E_BOOK_OPERATION_FLAG_NONE,
                                                nullptr, error);
    });
    g_slist_free_full(uids, g_free);
  }
  const Ref<ECalClient> birthdays = calendar(registry, "birthdays");
  waitFor("an empty Birthdays calendar", [&] { return objects(birthdays.get(), "#t").empty(); });
}

std::string addCalendar(ESourceRegistry* registry, const std::string& title,
                        const std::string& account, const std::string& color,
                        const std::string& caldav) {
  const auto newSource = [] {
    Ref<ESource> source;
    check("new source", [&](GError** error) {
      source.reset(e_source_new(nullptr, nullptr, error));
      return source != nullptr;
    });
    return source;
  };
  std::string parent;
  if (!account.empty()) {
    const Ref<ESource> group = newSource();
    e_source_set_display_name(group.get(), account.c_str());
    check("add account", [&](GError** error) {
      return e_source_registry_commit_source_sync(registry, group.get(), nullptr, error);
    });
    parent = e_source_get_uid(group.get());
  }
  const Ref<ESource> source = newSource();
  e_source_set_display_name(source.get(), title.c_str());
  e_source_set_parent(source.get(), parent.empty() ? nullptr : parent.c_str());
  auto* extension = e_source_get_extension(source.get(), E_SOURCE_EXTENSION_CALENDAR);
  e_source_backend_set_backend_name(E_SOURCE_BACKEND(extension),
                                    caldav.empty() ? "local" : "caldav");
  if (!caldav.empty()) {
    const std::unique_ptr<GUri, void (*)(GUri*)> uri(
        g_uri_parse(caldav.c_str(), G_URI_FLAGS_NONE, nullptr), g_uri_unref);
    if (!uri)
      die("unreadable URL " + caldav);
    e_source_webdav_set_uri(
        E_SOURCE_WEBDAV(e_source_get_extension(source.get(), E_SOURCE_EXTENSION_WEBDAV_BACKEND)),
        uri.get());
  }
  if (!color.empty())
    e_source_selectable_set_color(E_SOURCE_SELECTABLE(extension), color.c_str());
  check("add calendar", [&](GError** error) {
    return e_source_registry_commit_source_sync(registry, source.get(), nullptr, error);
  });
  return e_source_get_uid(source.get());
}

Ref<ESource> existing(ESourceRegistry* registry, const std::string& uid) {
  Ref<ESource> source(e_source_registry_ref_source(registry, uid.c_str()));
  if (!source)
    die("no source " + uid);
  return source;
}

void disable(ESourceRegistry* registry, const std::string& uid, bool account) {
  Ref<ESource> source = existing(registry, uid);
  if (account)
    source = existing(registry,
                      e_source_get_parent(source.get()) ? e_source_get_parent(source.get()) : "");
  e_source_set_enabled(source.get(), FALSE);
  check("disable",
        [&](GError** error) { return e_source_write_sync(source.get(), nullptr, error); });
}

// GSettings keeps the choice; the session shares it between its processes.
void setDefault(ESourceRegistry* registry, const std::string& uid) {
  e_source_registry_set_default_calendar(registry, existing(registry, uid).get());
  g_settings_sync();
}

void hold(ESourceRegistry* registry, const std::string& uid) {
  const Ref<ECalClient> client = calendar(registry, uid);
  std::cout << "open" << std::endl;
  for (;;)
    std::this_thread::sleep_for(std::chrono::hours(1));
}

// Seconds since 1970 of a UTC date-time written as iCalendar writes it.
tembra::Instant instantOf(const std::string& text) {
  const Ref<ICalTime> time(i_cal_time_new_from_string(text.c_str()));
  return tembra::Instant{static_cast<double>(
      i_cal_time_as_timet_with_zone(time.get(), i_cal_timezone_get_utc_timezone()))};
}

void generate(const std::string& target, int events, int series) {
  // The file back-end keeps Personal in "system", every other calendar in a folder of its UID.
  std::string file = target;
  if (!file.ends_with(".ics")) {
    const std::string folder = std::string(g_get_user_data_dir()) + "/evolution/calendar/" +
                               (target == "system-calendar" ? "system" : target);
    g_mkdir_with_parents(folder.c_str(), 0700);
    file = folder + "/calendar.ics";
  }
  std::ofstream out(file, std::ios::binary);
  const auto stamp = [](long long seconds) {
    const Ref<ICalTime> time(i_cal_time_new_from_timet_with_zone(
        static_cast<time_t>(seconds), false, i_cal_timezone_get_utc_timezone()));
    const Text text(i_cal_time_as_ical_string(time.get()));
    return std::string(text.get());
  };
  constexpr long long k2024 = 1704067200;  // 2024-01-01T00:00:00Z, a Monday
  constexpr long long kSpan = 731LL * 86400;
  out << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tembra//generated//EN\r\n";
  for (int i = 0; i < events; ++i) {
    const long long start = k2024 + kSpan * i / std::max(events, 1) / 900 * 900;
    out << "BEGIN:VEVENT\r\nUID:generated-" << i << "@example.com\r\nDTSTAMP:" << stamp(k2024)
        << "\r\nDTSTART:" << stamp(start) << "\r\nDTEND:" << stamp(start + 3600)
        << "\r\nSUMMARY:Event " << i << "\r\nDESCRIPTION:Generated event number " << i
        << "\r\nLOCATION:Room " << i % 40 << "\r\n";
    if (i % 3 == 0)
      out << "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Event\r\nTRIGGER:-PT10M\r\nEND:"
             "VALARM\r\n";
    out << "END:VEVENT\r\n";
  }
  for (int j = 0; j < series; ++j) {
    const long long start = k2024 + (j % 7) * 86400 + (8 + j % 10) * 3600;
    out << "BEGIN:VEVENT\r\nUID:weekly-" << j << "@example.com\r\nDTSTAMP:" << stamp(k2024)
        << "\r\nDTSTART:" << stamp(start) << "\r\nDTEND:" << stamp(start + 3600)
        << "\r\nRRULE:FREQ=WEEKLY\r\nSUMMARY:Weekly " << j << "\r\nEND:VEVENT\r\n";
  }
  out << "END:VCALENDAR\r\n";
  if (!out.flush())
    die("cannot write " + file);
}

void window(const std::string& calendarUid, const std::string& from, const std::string& to) {
  const auto store = createEdsStore();
  const auto calendar = store->calendarWithIdentifier(calendarUid).value();
  if (!calendar)
    die("no calendar " + calendarUid);
  const tembra::EventWindow found =
      store
          ->eventWindow(store->predicateForEvents(instantOf(from), instantOf(to),
                                                  std::vector<tembra::Calendar>{*calendar}))
          .value();
  std::cout << found.events.size() << " " << found.occurrences.size() << "\n";
}

// Two hosts update one event at once, in process: each fetches it, then each saves a field of its
// own, the second first; then one saves an event that another removed meanwhile. Prints the title
// and notes left, "|" between, and how the late save ended.
void race(const std::string& id) {
  const auto first = createEdsStore();
  const auto second = createEdsStore();
  std::optional<tembra::Event> a = first->eventWithIdentifier(id).value();
  std::optional<tembra::Event> b = second->eventWithIdentifier(id).value();
  if (!a || !b)
    die("no event " + id);
  a->setTitle("Retro");
  b->setNotes("agenda");
  if (second->saveEvent(*b, tembra::Span::thisEvent) ||
      first->saveEvent(*a, tembra::Span::thisEvent))
    die("a save was refused");
  const auto now = createEdsStore()->eventWithIdentifier(id).value();
  std::cout << now->title.value_or("") << "|" << now->notes.value_or("") << "\n";
  std::optional<tembra::Event> late = first->eventWithIdentifier(id).value();
  if (second->removeEvent(*second->eventWithIdentifier(id).value(), tembra::Span::thisEvent))
    die("the removal was refused");
  late->setTitle("too late");
  const auto refused = first->saveEvent(*late, tembra::Span::thisEvent);
  std::cout << (refused && refused->notFound ? "gone" : "saved") << "\n";
}

std::string import(ESourceRegistry* registry, const std::string& calendarUid,
                   const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const Ref<ICalComponent> top(i_cal_component_new_from_string(text.str().c_str()));
  if (!top)
    die("unreadable " + file);
  const Ref<ECalClient> client = calendar(registry, calendarUid);
  std::vector<Ref<ICalComponent>> masters;
  std::vector<Ref<ICalComponent>> instances;
  for (Ref<ICalComponent> child(
           i_cal_component_get_first_component(top.get(), I_CAL_ANY_COMPONENT));
       child; child.reset(i_cal_component_get_next_component(top.get(), I_CAL_ANY_COMPONENT))) {
    if (i_cal_component_isa(child.get()) == I_CAL_VTIMEZONE_COMPONENT) {
      const Ref<ICalTimezone> zone(i_cal_timezone_new());
      const Ref<ICalComponent> definition(i_cal_component_clone(child.get()));
      i_cal_timezone_set_component(zone.get(), definition.get());
      // The zone owns the definition now; its wrapper must not free it as well.
      i_cal_object_set_owner(I_CAL_OBJECT(definition.get()), G_OBJECT(zone.get()));
      check("add zone", [&](GError** error) {
        return e_cal_client_add_timezone_sync(client.get(), zone.get(), nullptr, error);
      });
    } else if (i_cal_component_isa(child.get()) == I_CAL_VEVENT_COMPONENT) {
      auto& kind = e_cal_util_component_is_instance(child.get()) ? instances : masters;
      kind.push_back(Ref<ICalComponent>(i_cal_component_clone(child.get())));
    }
  }
  if (masters.empty())
    die("no event in " + file);
  const std::string uid = i_cal_component_get_uid(masters.back().get());
  // The masters in one call, as an import of many events would make it.
  std::unique_ptr<GSList, ListFree> list;
  for (auto master = masters.rbegin(); master != masters.rend(); ++master)
    list.reset(g_slist_prepend(list.release(), master->get()));
  check("create", [&](GError** error) {
    return e_cal_client_create_objects_sync(client.get(), list.get(), E_CAL_OPERATION_FLAG_NONE,
                                            nullptr, nullptr, error);
  });
  for (const Ref<ICalComponent>& instance : instances) {
    check("detach", [&](GError** error) {
      return e_cal_client_modify_object_sync(client.get(), instance.get(), E_CAL_OBJ_MOD_THIS,
                                             E_CAL_OPERATION_FLAG_NONE, nullptr, error);
    });
  }
  return eventIdentifier({calendarUid, uid});
}

void changeOccurrence(ESourceRegistry* registry, const std::string& calendarUid,
                      const std::string& uid, const std::string& recurrenceId,
                      const std::string& title) {
  const Ref<ECalClient> client = calendar(registry, calendarUid);
  ICalComponent* found = nullptr;
  check("master", [&](GError** error) {
    return e_cal_client_get_object_sync(client.get(), uid.c_str(), nullptr, &found, nullptr, error);
  });
  const Ref<ICalComponent> master(found);
  const Ref<ICalTime> original(i_cal_time_new_from_string(recurrenceId.c_str()));
  const Ref<ICalComponent> instance(e_cal_util_construct_instance(master.get(), original.get()));
  if (!instance)
    die("no occurrence at " + recurrenceId);
  i_cal_component_set_summary(instance.get(), title.c_str());
  check("change", [&](GError** error) {
    return e_cal_client_modify_object_sync(client.get(), instance.get(), E_CAL_OBJ_MOD_THIS,
                                           E_CAL_OPERATION_FLAG_NONE, nullptr, error);
  });
}

std::string addBirthday(ESourceRegistry* registry, const std::string& name,
                        const std::string& day) {
  const Ref<EBookClient> book = addressBook(registry);
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nBDAY:" + day + "\r\nEND:VCARD\r\n";
  const Ref<EContact> contact(e_contact_new_from_vcard(card.c_str()));
  gchar* added = nullptr;
  check("add contact", [&](GError** error) {
    return e_book_client_add_contact_sync(book.get(), contact.get(), E_BOOK_OPERATION_FLAG_NONE,
                                          &added, nullptr, error);
  });
  const Text contactUid(added);
  const Ref<ECalClient> birthdays = calendar(registry, "birthdays");
  std::string uid;
  waitFor("the birthday", [&] {
    for (const Ref<ICalComponent>& event : objects(birthdays.get(), "#t")) {
      const std::string found = i_cal_component_get_uid(event.get());
      if (found.find(contactUid.get()) != std::string::npos)
        uid = found;
    }
    return !uid.empty();
  });
  return eventIdentifier({"birthdays", uid});
}

void show(ESourceRegistry* registry, const std::string& calendarUid, const std::string& uid) {
  const Ref<ECalClient> client = calendar(registry, calendarUid);
  GSList* found = nullptr;
  check("objects", [&](GError** error) {
    return e_cal_client_get_objects_for_uid_sync(client.get(), uid.c_str(), &found, nullptr, error);
  });
  for (const Ref<ECalComponent>& component : takeAll<ECalComponent>(found)) {
    const Text text(e_cal_component_get_as_string(component.get()));
    std::cout << text.get();
  }
}

gboolean printStart(ICalComponent*, ICalTime* start, ICalTime*, gpointer, GCancellable*, GError**) {
  // Dates are local days; date-times carry their zone.
  ICalTimezone* zone = i_cal_time_get_timezone(start);
  if (!zone || i_cal_time_is_date(start))
    zone = localZone();
  const time_t at = i_cal_time_as_timet_with_zone(start, zone);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", std::gmtime(&at));
  std::cout << text << "\n";
  return TRUE;
}

void occurrences(ESourceRegistry* registry, const std::string& calendarUid, const std::string& uid,
                 const std::string& from, const std::string& to) {
  const Ref<ECalClient> client = calendar(registry, calendarUid);
  ICalComponent* found = nullptr;
  check("master", [&](GError** error) {
    return e_cal_client_get_object_sync(client.get(), uid.c_str(), nullptr, &found, nullptr, error);
  });
  const Ref<ICalComponent> master(found);
  e_cal_client_generate_instances_for_object_sync(
      client.get(), master.get(), static_cast<time_t>(instantOf(from).seconds),
      static_cast<time_t>(instantOf(to).seconds), nullptr, printStart, nullptr);
}

// The file back-end keeps Personal in "system", every other calendar in a folder of its UID.
void file(const std::string& calendarUid) {
  std::ifstream in(std::string(g_get_user_data_dir()) + "/evolution/calendar/" +
                   (calendarUid == "system-calendar" ? "system" : calendarUid) + "/calendar.ics");
  std::cout << in.rdbuf();
}

std::string option(const std::vector<std::string>& args, const std::string& name) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name)
      return args[i + 1];
  }
  return "";
}

}  // namespace
}  // namespace tembra::eds

int main(int argc, char** argv) {
  using namespace tembra::eds;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    die("usage: reset | add-calendar | disable | set-default | hold | generate | window | import | "
        "add-birthday | change-occurrence | show | occurrences | file | race");
  const Ref<ESourceRegistry> registry = openRegistry();
  const std::string& command = args[0];
  if (command == "reset") {
    reset(registry.get());
  } else if (command == "add-calendar") {
    std::cout << addCalendar(registry.get(), option(args, "--title"), option(args, "--source"),
                             option(args, "--color"), option(args, "--caldav"))
              << "\n";
  } else if (command == "disable" && (args.size() == 2 || args.size() == 3)) {
    disable(registry.get(), args[1], args.size() == 3 && args[2] == "--account");
  } else if (command == "set-default" && args.size() == 2) {
    setDefault(registry.get(), args[1]);
  } else if (command == "hold" && args.size() == 2) {
    hold(registry.get(), args[1]);
  } else if (command == "generate" && args.size() == 4) {
    generate(args[1], std::stoi(args[2]), std::stoi(args[3]));
  } else if (command == "window" && args.size() == 4) {
    window(args[1], args[2], args[3]);
  } else if (command == "import" && args.size() == 3) {
    std::cout << import(registry.get(), args[1], args[2]) << "\n";
  } else if (command == "add-birthday" && args.size() == 3) {
    std::cout << addBirthday(registry.get(), args[1], args[2]) << "\n";
  } else if (command == "change-occurrence" && args.size() == 5) {
    changeOccurrence(registry.get(), args[1], args[2], args[3], args[4]);
  } else if (command == "show" && args.size() == 3) {
    show(registry.get(), args[1], args[2]);
  } else if (command == "occurrences" && args.size() == 5) {
    occurrences(registry.get(), args[1], args[2], args[3], args[4]);
  } else if (command == "file" && args.size() == 2) {
    file(args[1]);
  } else if (command == "race" && args.size() == 2) {
    race(args[1]);
  } else {
    die("unknown command " + command);
  }
  return 0;
}
