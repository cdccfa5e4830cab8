// The local store and EDS as stores under test.
#include "support/stores.h"

#include <cstdlib>

namespace tembra::testing {
namespace {

const std::string kDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/";

std::string withoutLineFeed(std::string text) {
  if (!text.empty() && text.back() == '\n')
    text.pop_back();
  return text;
}

}  // namespace

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::local ? "local" : "eds";
}

bool backendAvailable(Backend backend) {
  return backend == Backend::local ||
         (*TEMBRA_EDS_FIXTURE_BINARY && std::getenv("TEMBRA_EDS_SESSION"));
}

StoreUnderTest::StoreUnderTest(Backend backend) : backend(backend) {
  if (backend == Backend::local) {
    local_.emplace();  // access is asked for and granted on first use
  } else {
    fixtureOk({"reset"});
  }
}

ProcessResult StoreUnderTest::tembra(const std::vector<std::string>& args) const {
  if (local_)
    return runProgram(TEMBRA_BINARY, args,
                      {{"TEMBRA_STORE", local_->path().string()}, {"TZ", zone}});
  return runProgram(TEMBRA_BINARY, args, {{"TEMBRA_BACKEND", "eds"}, {"TZ", zone}});
}

ProcessResult StoreUnderTest::fixture(const std::vector<std::string>& args) const {
  return runProgram(TEMBRA_EDS_FIXTURE_BINARY, args, {{"TZ", zone}});
}

std::string StoreUnderTest::fixtureOk(const std::vector<std::string>& args) const {
  const ProcessResult result = fixture(args);
  EXPECT_EQ(result.status, 0) << result.err;
  return withoutLineFeed(result.out);
}

std::string StoreUnderTest::addCalendar(const std::string& title, const std::string& source,
                                        const std::string& color) const {
  std::vector<std::string> args{"add-calendar", "--title", title};
  if (!source.empty())
    args.insert(args.end(), {"--source", source});
  if (!color.empty())
    args.insert(args.end(), {"--color", color});
  return local_ ? local_->adminOk(args) : fixtureOk(args);
}

std::string StoreUnderTest::import(const std::string& calendar, const std::string& file) const {
  const std::vector<std::string> args{"import", calendar, file};
  return local_ ? local_->adminOk(args) : fixtureOk(args);
}

StoreUnderTest::ReadOnly StoreUnderTest::readOnlyWithEvent() const {
  if (local_) {
    const std::string id =
        local_->adminOk({"add-calendar", "--title", "Holidays", "--source", "订阅", "--read-only"});
    return {{id, "Holidays", "订阅", "", false}, import(id, kDataDir + "birthday.ics"), "Birthday"};
  }
  return {{"birthdays", "Birthdays & Anniversaries", "Contacts", "#FED4D3", false},
          fixtureOk({"add-birthday", "Ana", "1990-05-10"}),
          "Birthday: Ana"};
}

Shown StoreUnderTest::starter() const {
  if (local_)
    return {"local/calendar", "日历", "本地", "#1BADF8"};
  return {"system-calendar", "Personal", "On This Computer", "#BECEDD"};
}

std::string StoreUnderTest::readOnlyRefusal(bool removal) const {
  if (local_)
    return "日历「Holidays」是只读的，不能更改其中的事件";
  return removal ? "Cannot remove calendar object: Not supported"
                 : "Cannot modify calendar object: Not supported";
}

std::string StoreUnderTest::uidOf(const std::string& eventId) const {
  const std::string name = eventId.substr(eventId.rfind('/') + 1);
  return local_ ? name.substr(0, name.size() - 4) : name;  // a local file name ends in ".ics"
}

}  // namespace tembra::testing
