// tembra-store: sets up, imports into and repairs a local calendar store, for people and tests.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "access/local/admin.h"
#include "access/local/console.h"
#include "access/local/import.h"
#include "access/local/layout.h"
#include "access/local/local_store.h"
#include "access/local/settings.h"
#include "cli/standard_descriptors.h"

namespace {

using tembra::local::NewCalendar;
using Args = std::vector<std::string>;
namespace fs = std::filesystem;

// Exit statuses: 0 done, 1 the store or a file refused, 2 the command line is unusable.
constexpr int kFailed = 1;
constexpr int kMisused = 2;

struct Verb {
  const char* name;
  const char* arguments;
  const char* help;
  int (*run)(const fs::path& root, const Args& args, const Verb& self);
};

constexpr const char* kStoreText =
    "The store is DIR, else $TEMBRA_STORE, else $XDG_DATA_HOME/tembra, else "
    "~/.local/share/tembra.\n";

std::string verbUsage(const Verb& verb) {
  return std::string("usage: tembra-store [--store DIR] ") + verb.name +
         (*verb.arguments ? " " : "") + verb.arguments + "\n" + verb.help;
}

int misuse(const std::string& problem, const Verb* verb) {
  std::cerr << "tembra-store: " << problem << "\n"
            << (verb ? verbUsage(*verb)
                     : "usage: tembra-store [--store DIR] VERB [ARGUMENT]...\n"
                       "tembra-store --help lists the verbs.\n");
  return kMisused;
}

int report(const std::optional<std::string>& error) {
  if (!error)
    return 0;
  std::cerr << "tembra-store: " << *error << "\n";
  return kFailed;
}

bool onTerminal() {
  return ::isatty(2) == 1;
}

std::optional<std::string> readWhole(const fs::path& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return "cannot read " + path.string() + ": " + std::strerror(errno);
  text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad())
    return "cannot read " + path.string() + ": " + std::strerror(errno);
  return std::nullopt;
}

int initVerb(const fs::path& root, const Args& args, const Verb& self) {
  if (args.size() > 1 || (args.size() == 1 && args[0] != "--empty"))
    return misuse("init takes only --empty", &self);
  return report(tembra::local::createStoreIfAbsent(root, !args.empty()));
}

int setAccessVerb(const fs::path& root, const Args& args, const Verb& self) {
  const auto code = args.size() == 1 ? tembra::local::authorizationCode(args[0]) : std::nullopt;
  if (!code)
    return misuse("set-access needs one of the five states", &self);
  return report(tembra::local::setAuthorization(root, *code));
}

int setAnswerVerb(const fs::path& root, const Args& args, const Verb& self) {
  if (args.size() != 1 || (args[0] != "grant" && args[0] != "deny"))
    return misuse("set-answer needs grant or deny", &self);
  return report(tembra::local::setAnswer(root, args[0] == "grant"));
}

int addCalendarVerb(const fs::path& root, const Args& args, const Verb& self) {
  NewCalendar request;
  bool titled = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--read-only") {
      request.readOnly = true;
      continue;
    }
    if (i + 1 >= args.size())
      return misuse(option + " needs a value", &self);
    const std::string& value = args[++i];
    if (option == "--title") {
      request.title = value;
      titled = true;
    } else if (option == "--source") {
      request.source = value;
    } else if (option == "--color") {
      request.color = value;
    } else {
      return misuse("unknown option " + option, &self);
    }
  }
  if (!titled)
    return misuse("add-calendar needs --title", &self);
  std::string id;
  if (int status = report(tembra::local::addCalendar(root, request, id)))
    return status;
  std::cout << id << "\n";
  return 0;
}

int setDefaultVerb(const fs::path& root, const Args& args, const Verb& self) {
  if (args.size() != 1)
    return misuse("set-default needs one calendar identifier or --none", &self);
  return report(tembra::local::setDefaultCalendar(
      root, args[0] == "--none" ? std::nullopt : std::optional<std::string>(args[0])));
}

// An import's error with where in the file it lies: the event it names (by its UID), else the
// first line that is no content line, with what is wrong with that line. Errors about the store
// are given as they are.
std::string located(const std::string& file, const std::string& error,
                    const tembra::local::Outline& outline) {
  if (!error.starts_with("the file") && !error.starts_with("the event"))
    return error;
  for (const auto& component : outline.components) {
    if (!component.uid.empty() && error.starts_with("the event " + component.uid + " "))
      return file + ":" + std::to_string(component.line) + ": " + error;
  }
  if (const auto& bad = outline.firstBadLine)
    return file + ":" + std::to_string(bad->line) + ": " + error + " (" + bad->why + ")";
  return file + ": " + error;
}

int importVerb(const fs::path& root, const Args& args, const Verb& self) {
  if (args.size() != 2)
    return misuse("import needs a calendar identifier and a file", &self);
  const std::string& calendarId = args[0];
  const std::string& file = args[1];
  std::string text;
  if (int status = report(readWhole(file, text)))
    return status;
  const tembra::local::Outline outline = tembra::local::outlineOf(text);
  std::vector<std::string> ids;
  std::optional<std::string> error;
  {
    std::optional<tembra::local::ProgressLine> progress;
    if (onTerminal())
      progress.emplace(2, "tembra-store: import");
    error =
        tembra::local::importEvents(root, calendarId, text, ids, progress ? &*progress : nullptr);
  }
  if (error) {
    std::cerr << "tembra-store: " << located(file, *error, outline) << "\n";
    return kFailed;
  }
  for (const std::string& id : ids)
    std::cout << id << "\n";
  std::cout.flush();
  if (onTerminal())
    std::cerr << "tembra-store: "
              << tembra::local::importSummary(file, calendarId, outline, ids.size()) << "\n";
  return 0;
}

int reindexVerb(const fs::path& root, const Args& args, const Verb& self) {
  if (!args.empty())
    return misuse("reindex takes no arguments", &self);
  tembra::local::Index::Census census;
  {
    std::optional<tembra::local::ProgressLine> progress;
    if (onTerminal())
      progress.emplace(2, "tembra-store: reindex");
    if (int status = report(tembra::local::rebuildIndex(root, progress ? &*progress : nullptr,
                                                        onTerminal() ? &census : nullptr))) {
      return status;
    }
  }
  if (!onTerminal())
    return 0;
  std::vector<tembra::local::SkippedFile> skipped;
  for (const std::string& id : census.unreadable) {
    std::string text;
    const bool readable = !readWhole(root / id, text);
    skipped.push_back(tembra::local::whySkipped(id, text, readable));
  }
  const auto calendars = tembra::local::calendarPaths(root).size();
  for (const std::string& line : tembra::local::reindexSummary(calendars, census.files, skipped))
    std::cerr << (line.starts_with(" ") ? "" : "tembra-store: ") << line << "\n";
  return 0;
}

const std::array<Verb, 7> kVerbs{{
    {"init", "[--empty]",
     "Makes the store when its folder is missing or empty: with one writable calendar, \"日历\",\n"
     "the default for new events, or with no calendar at all with --empty. A store that exists\n"
     "is left as it is.\n",
     initVerb},
    {"set-access", "notDetermined|restricted|denied|fullAccess|writeOnly",
     "Sets the access state tembra reports and acts on; notDetermined makes the next command\n"
     "ask again.\n",
     setAccessVerb},
    {"set-answer", "grant|deny",
     "Sets the answer the store gives when a command asks for access (a fresh store grants).\n",
     setAnswerVerb},
    {"add-calendar", "--title T [--source S] [--color #RRGGBB] [--read-only]",
     "Adds a calendar folder, in the folder of source S when given, and prints its identifier.\n",
     addCalendarVerb},
    {"set-default", "ID | --none",
     "Makes calendar ID the default calendar for new events, or leaves the store without one.\n",
     setDefaultVerb},
    {"import", "ID FILE.ics",
     "Adds the events of an iCalendar file to calendar ID as a sync would: one file per UID,\n"
     "every property kept; an event whose UID the calendar holds is replaced. Nothing is written\n"
     "when any event cannot be stored. Prints the identifiers of the events' files.\n",
     importVerb},
    {"reindex", "",
     "Deletes the store's index and builds it again from every event file, for changes it\n"
     "cannot notice, such as a file rewritten in place by a tool that leaves its folder's time\n"
     "alone. Files from which no event can be read are skipped, never changed.\n",
     reindexVerb},
}};

std::string overallHelp() {
  std::string text =
      "usage: tembra-store [--store DIR] VERB [ARGUMENT]...\n"
      "Sets up, imports into and repairs a local calendar store: the folder of iCalendar files\n"
      "that tembra serves when TEMBRA_BACKEND is unset or local.\n\nVerbs:\n";
  for (const Verb& verb : kVerbs)
    text += std::string("  ") + verb.name + (*verb.arguments ? " " : "") + verb.arguments + "\n";
  text += std::string(kStoreText) +
          "On a terminal, import and reindex show their progress and end with a summary.\n"
          "tembra-store VERB --help tells what a verb does. Exit status: 0 done, 1 failed, 2 a\n"
          "command line it cannot use.\n";
  return text;
}

bool asksForHelp(const std::string& word) {
  return word == "--help" || word == "-h" || word == "help";
}

}  // namespace

int main(int argc, char** argv) {
  tembra::keepStandardDescriptorsOpen();
  Args args(argv + 1, argv + argc);
  std::optional<fs::path> root;
  if (!args.empty() && args[0] == "--store") {
    if (args.size() < 2)
      return misuse("--store needs a folder", nullptr);
    root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty())
    return misuse("no verb", nullptr);
  const bool help = asksForHelp(args[0]);
  if (help && args.size() == 1) {
    std::cout << overallHelp();
    return 0;
  }
  // "help VERB" and "VERB --help" tell what the verb does.
  const std::string& name = help ? args[1] : args[0];
  const Verb* verb = nullptr;
  for (const Verb& each : kVerbs) {
    if (name == each.name)
      verb = &each;
  }
  if (!verb)
    return misuse((help ? "no verb " : "unknown verb ") + name, nullptr);
  const Args rest(args.begin() + 1, args.end());
  if (help || (rest.size() == 1 && asksForHelp(rest[0]))) {
    std::cout << verbUsage(*verb) << kStoreText;
    return 0;
  }
  if (!root) {
    // Relative to whichever folder a run starts in, it would be a different store each time.
    if (tembra::local::storePathProblem()) {
      std::cerr << "tembra-store: TEMBRA_STORE must be an absolute path: "
                << std::getenv("TEMBRA_STORE") << "\n";
      return 1;
    }
    root = tembra::local::defaultStorePath();
  }
  if (!root)
    return misuse("no store: give --store DIR or set TEMBRA_STORE", nullptr);
  return verb->run(*root, rest, *verb);
}
