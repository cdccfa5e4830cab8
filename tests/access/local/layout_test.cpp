// Calendar folders, their metadata and the shape of identifiers.
#include "access/local/layout.h"

#include <fstream>

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/local_store.h"
#include "support/black_box.h"

namespace tembra::local {
namespace {

TEST(Identifiers, AcceptOnlyPlainNamesInside) {
  struct Case {
    std::string id;
    bool calendar;
    bool event;
  };
  const Case cases[] = {
      {"local/calendar", true, false},
      {"local/calendar/E1.ics", false, true},
      {"local/calendar/日程 one.ics", false, true},
      {"local/calendar/E1.txt", false, false},
      {"local", false, false},
      {"", false, false},
      {"/local/calendar", false, false},
      {"local/calendar/", false, false},
      {"local/../calendar", false, false},
      {"../x/y.ics", false, false},
      {"local/./x.ics", false, false},
      {"local/.hidden", false, false},
      {"local/calendar/.index.ics", false, false},
      {std::string("local/cal\0endar", 15), false, false},
      {"local/calendar/\xff.ics", false, false},
      {"a/b/c/d.ics", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseCalendarId(c.id).has_value(), c.calendar) << c.id;
    EXPECT_EQ(parseEventId(c.id).has_value(), c.event) << c.id;
  }
}

TEST(Colors, ReadHexWithOrWithoutAlpha) {
  EXPECT_EQ(parseColor("#FF8000"), (std::vector<double>{1.0, 128 / 255.0, 0.0, 1.0}));
  EXPECT_EQ(parseColor("#33669980\n"), (std::vector<double>{0.2, 0.4, 0.6, 128 / 255.0}));
  EXPECT_EQ(parseColor(" #ff8000 "), (std::vector<double>{1.0, 128 / 255.0, 0.0, 1.0}));
  for (const char* bad : {"", "FF8000", "#FF80", "#GG8000", "#FF8000FF00", "red"}) {
    EXPECT_FALSE(parseColor(bad)) << bad;
  }
}

TEST(FolderNames, AreReadableAndUnique) {
  EXPECT_EQ(folderNameFor("Work Stuff", "calendar", {}), "work-stuff");
  EXPECT_EQ(folderNameFor("工作", "calendar", {}), "calendar");
  EXPECT_EQ(folderNameFor("Work", "calendar", {"work", "work-2"}), "work-3");
  EXPECT_EQ(folderNameFor("  --Work--  ", "calendar", {}), "work");
}

TEST(CalendarOrder, AddedFirstThenOthersByFolderName) {
  testing::TempStore folder;
  ASSERT_FALSE(createStoreIfAbsent(folder.path(), true));
  std::string zeta, alpha;
  ASSERT_FALSE(addCalendar(folder.path(), {"Zeta", "Acme", "#336699", false}, zeta));
  ASSERT_FALSE(addCalendar(folder.path(), {"Alpha", std::nullopt, std::nullopt, true}, alpha));
  // Folders that a sync or another tool made, with vdirsyncer's metadata files.
  std::filesystem::create_directories(folder.path() / "synced" / "b-cal");
  std::filesystem::create_directories(folder.path() / "synced" / "a-cal");
  std::ofstream(folder.path() / "synced" / "a-cal" / "displayname") << "From the server\n";
  std::ofstream(folder.path() / "synced" / "a-cal" / "color") << "#FF800080";
  std::filesystem::create_directories(folder.path() / ".hidden" / "cal");

  auto store = createLocalStore(folder.path());
  const std::vector<Calendar> calendars = store->calendars(EntityType::event).value();
  ASSERT_EQ(calendars.size(), 4u);
  EXPECT_EQ(calendars[0].calendarIdentifier, zeta);
  EXPECT_EQ(calendars[0].source->title, "Acme");
  EXPECT_TRUE(calendars[0].allowsContentModifications);
  EXPECT_EQ(calendars[1].calendarIdentifier, alpha);
  EXPECT_FALSE(calendars[1].source);
  EXPECT_FALSE(calendars[1].color);
  EXPECT_FALSE(calendars[1].allowsContentModifications);
  EXPECT_EQ(calendars[2].calendarIdentifier, "synced/a-cal");
  EXPECT_EQ(calendars[2].title, "From the server");
  EXPECT_EQ(calendars[2].source->title, "synced");
  EXPECT_EQ(calendars[2].color, (std::vector<double>{1.0, 128 / 255.0, 0.0, 128 / 255.0}));
  EXPECT_EQ(calendars[3].calendarIdentifier, "synced/b-cal");
  EXPECT_EQ(calendars[3].title, "b-cal");
  EXPECT_FALSE(store->defaultCalendarForNewEvents().value());
}

}  // namespace
}  // namespace tembra::local

namespace tembra::local {
namespace {

TEST(CalendarOrder, FoldersFoundOnDiskFollowTheirIdentifiersOrder) {
  testing::TempStore folder;
  ASSERT_FALSE(createStoreIfAbsent(folder.path(), true));
  // The folder "a" sorts before "a-b", but the identifier "a-b/y" before "a/x".
  for (const char* path : {"a/x", "a-b/y", "a/z"}) {
    std::filesystem::create_directories(folder.path() / path);
  }
  std::vector<std::string> ids;
  for (const Calendar& calendar :
       createLocalStore(folder.path())->calendars(EntityType::event).value()) {
    ids.push_back(calendar.calendarIdentifier);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"a-b/y", "a/x", "a/z"}));
}

}  // namespace
}  // namespace tembra::local
