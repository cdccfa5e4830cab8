// tembra-store: administers a local calendar store for people and tests.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "access/local/admin.h"
#include "access/local/local_store.h"
#include "access/local/settings.h"
#include "cli/standard_descriptors.h"

namespace {

using tembra::local::NewCalendar;

constexpr const char* kUsage =
    "usage: tembra-store [--store DIR] VERB ...\n"
    "  init [--empty]\n"
    "  set-access notDetermined|restricted|denied|fullAccess|writeOnly\n"
    "  set-answer grant|deny\n"
    "  add-calendar --title T [--source S] [--color #RRGGBB] [--read-only]\n"
    "  set-default ID | --none\n"
    "  import ID FILE.ics\n"
    "  reindex\n"
    "The store is DIR, else $TEMBRA_STORE, else $XDG_DATA_HOME/tembra, else "
    "~/.local/share/tembra.\n";

int usage(const std::string& problem) {
  std::cerr << "tembra-store: " << problem << "\n" << kUsage;
  return 2;
}

int report(const std::optional<std::string>& error) {
  if (!error)
    return 0;
  std::cerr << "tembra-store: " << *error << "\n";
  return 1;
}

int addCalendarVerb(const std::filesystem::path& root, const std::vector<std::string>& args) {
  NewCalendar request;
  bool titled = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--read-only") {
      request.readOnly = true;
      continue;
    }
    if (i + 1 >= args.size())
      return usage(option + " needs a value");
    const std::string& value = args[++i];
    if (option == "--title") {
      request.title = value;
      titled = true;
    } else if (option == "--source") {
      request.source = value;
    } else if (option == "--color") {
      request.color = value;
    } else {
      return usage("unknown option " + option);
    }
  }
  if (!titled)
    return usage("add-calendar needs --title");
  std::string id;
  if (int status = report(tembra::local::addCalendar(root, request, id)))
    return status;
  std::cout << id << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tembra::keepStandardDescriptorsOpen();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<std::filesystem::path> root;
  if (args.size() >= 2 && args[0] == "--store") {
    root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (!root) {
    // Relative to whichever folder a run starts in, it would be a different store each time.
    if (tembra::local::storePathProblem())
      return report(std::string("TEMBRA_STORE must be an absolute path: ") +
                    std::getenv("TEMBRA_STORE"));
    root = tembra::local::defaultStorePath();
  }
  if (!root)
    return usage("no store: give --store DIR or set TEMBRA_STORE");
  if (args.empty())
    return usage("no verb");
  const std::string verb = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());

  if (verb == "init") {
    if (rest.size() > 1 || (rest.size() == 1 && rest[0] != "--empty"))
      return usage("init [--empty]");
    return report(tembra::local::createStoreIfAbsent(*root, !rest.empty()));
  }
  if (verb == "set-access") {
    const auto code = rest.size() == 1 ? tembra::local::authorizationCode(rest[0]) : std::nullopt;
    if (!code)
      return usage("set-access needs one of the five states");
    return report(tembra::local::setAuthorization(*root, *code));
  }
  if (verb == "set-answer") {
    if (rest.size() != 1 || (rest[0] != "grant" && rest[0] != "deny")) {
      return usage("set-answer grant|deny");
    }
    return report(tembra::local::setAnswer(*root, rest[0] == "grant"));
  }
  if (verb == "add-calendar")
    return addCalendarVerb(*root, rest);
  if (verb == "set-default") {
    if (rest.size() != 1)
      return usage("set-default ID | --none");
    return report(tembra::local::setDefaultCalendar(
        *root, rest[0] == "--none" ? std::nullopt : std::optional<std::string>(rest[0])));
  }
  if (verb == "import") {
    if (rest.size() != 2)
      return usage("import ID FILE.ics");
    std::ifstream file(rest[1], std::ios::binary);
    if (!file)
      return report("cannot read " + rest[1]);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::vector<std::string> ids;
    if (int status = report(tembra::local::importEvents(*root, rest[0], text, ids)))
      return status;
    for (const std::string& id : ids)
      std::cout << id << "\n";
    return 0;
  }
  if (verb == "reindex") {
    if (!rest.empty())
      return usage("reindex takes no arguments");
    return report(tembra::local::rebuildIndex(*root));
  }
  return usage("unknown verb " + verb);
}
