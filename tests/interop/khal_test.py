"""tembra and khal over one store: khal, with the configuration docs/store.md gives, lists what
tembra writes, and tembra lists what khal writes. Both run in the test's zone (interop.ZONE):
times khal is given or shows are wall-clock times of that zone, and tembra's are their instants."""

import unittest

import interop
from interop import Home, all_day, occurrences, utc, wall_clock, with_offset

FORMAT = "{title}|{start}|{end}|{all-day}|{location}|{calendar}|{uid}|{repeat-symbol}"


class KhalTest(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        (self.work,) = self.home.make_store(
            ["--title", "Work", "--source", "Acme", "--color", "#336699"]
        )
        self.config = self.home.path / "khal.conf"
        self.config.write_text(interop.documented_config("[calendars]"), encoding="utf-8")

    def khal(self, *args, config=None):
        result = self.home.run(["/usr/bin/khal", "-c", config or self.config, *args])
        self.assertEqual(result.status, 0, result)
        # khal warns about each file it cannot read, and skips it.
        self.assertNotRegex(result.err.lower(), "warning|error|critical", result)
        return result

    def khal_list(self, start, end, config=None):
        """khal's events of the days from start to end, one line each in FORMAT."""
        out = self.khal("list", "--format", FORMAT, "--day-format", "", start, end,
                        config=config).out
        return out.splitlines()

    def uid(self, event_id):
        return self.home.ok("get", "--id", event_id)["externalId"]

    def test_the_readme_gives_the_documented_configuration(self):
        self.assertEqual(
            interop.without_comments(interop.documented_config("[calendars]", "README.md")),
            interop.without_comments(interop.documented_config("[calendars]")))

    def test_khal_lists_what_tembra_creates_and_changes(self):
        standup = self.home.create({
            "title": "Standup", "start": "2024-05-01T07:30:00Z", "end": "2024-05-01T08:00:00Z",
            "alarms": [{"relative": -900}],
        })
        holiday = self.home.create({
            "title": "Holiday", "start": with_offset("2024-05-02"),
            "end": with_offset("2024-05-02 23:59:59"), "allDay": True,
        })
        # An all-day end at midnight does not take in the day it begins.
        trip = self.home.create({
            "title": "Trip", "start": with_offset("2024-05-03"),
            "end": with_offset("2024-05-05"), "allDay": True,
        })
        # Text that iCalendar escapes; the end defaults to an hour after the start.
        review = self.home.create({
            "title": "Review; café, «Q2»", "location": "Raum 4, Haus B",
            "start": with_offset("2024-05-04 10:00"),
        })
        uids = {name: self.uid(event) for name, event in
                [("standup", standup), ("holiday", holiday), ("trip", trip), ("review", review)]}

        self.assertEqual(self.khal_list("2024-05-01", "2024-05-06"), [
            f"Standup|{wall_clock('2024-05-01T07:30:00Z')}|{wall_clock('2024-05-01T08:00:00Z')}"
            f"|False||Work|{uids['standup']}|",
            f"Holiday|2024-05-02|2024-05-02|True||Work|{uids['holiday']}|",
            f"Trip|2024-05-03|2024-05-04|True||Work|{uids['trip']}|",
            f"Trip|2024-05-03|2024-05-04|True||Work|{uids['trip']}|",
            f"Review; café, «Q2»|2024-05-04 10:00|2024-05-04 11:00|False|Raum 4, Haus B|Work|"
            f"{uids['review']}|",
        ])

        self.home.update({"id": standup, "title": "Standup (moved)",
                          "start": "2024-05-01T12:00:00Z", "end": "2024-05-01T12:30:00Z"})
        self.home.update({"id": holiday, "allDay": False, "start": with_offset("2024-05-02 09:00"),
                          "end": with_offset("2024-05-02 10:00")})
        self.home.update({"id": review, "allDay": True})
        self.assertEqual(self.home.ok("delete", "--id", trip), {"ok": True})

        self.assertEqual(self.khal_list("2024-05-01", "2024-05-06"), [
            f"Standup (moved)|{wall_clock('2024-05-01T12:00:00Z')}|"
            f"{wall_clock('2024-05-01T12:30:00Z')}|False||Work|{uids['standup']}|",
            f"Holiday|2024-05-02 09:00|2024-05-02 10:00|False||Work|{uids['holiday']}|",
            f"Review; café, «Q2»|2024-05-04|2024-05-04|True|Raum 4, Haus B|Work|"
            f"{uids['review']}|",
        ])

    def test_tembra_lists_what_khal_creates(self):
        self.khal("new", "-a", "Work", "-m", "15m", "2024-05-03", "10:00", "11:00", "Review",
                  "::", "Notes for the review")
        self.khal("new", "-a", "Work", "-l", "Kantine", "2024-05-04", "Offsite")
        self.khal("new", "-a", "Work", "2024-05-06", "2024-05-07", "Conference")
        # Weekly at 08:00 over the end of summer time in Europe (27 October) and North America
        # (3 November): where the zone changes its offset, the instants move with it.
        self.khal("new", "-a", "Work", "-r", "weekly", "2024-10-21", "08:00", "08:30",
                  "Weekly sync")

        may = self.home.events("2024-05-01T00:00:00Z", "2024-05-10T00:00:00Z", self.work)
        self.assertEqual(
            occurrences(may, "title", "start", "end", "allDay", "notes", "location", "alarms",
                        "recurring"),
            [
                ("Review", utc("2024-05-03 10:00"), utc("2024-05-03 11:00"), False,
                 "Notes for the review", "", [{"relative": -900}], False),
                ("Offsite", *all_day("2024-05-04"), True, "", "Kantine", [], False),
                ("Conference", *all_day("2024-05-06", "2024-05-07"), True, "", "", [], False),
            ],
        )
        autumn = self.home.events("2024-10-14T00:00:00Z", "2024-11-10T00:00:00Z")
        self.assertEqual(
            occurrences(autumn, "title", "start", "end", "allDay", "recurring"),
            [("Weekly sync", utc(f"{day} 08:00"), utc(f"{day} 08:30"), False, True)
             for day in ("2024-10-21", "2024-10-28", "2024-11-04")],
        )
        weekly = autumn[0]["id"]
        self.assertEqual({event["id"] for event in autumn}, {weekly})
        weekly_uid = self.khal_list("2024-10-21", "2024-10-22")[0].split("|")[6]
        self.assertEqual({event["externalId"] for event in autumn}, {weekly_uid})
        self.assertEqual(self.home.ok("get", "--id", weekly), autumn[0])

        # tembra changes khal's events; khal sees the changes, the series keeps its zone.
        review = may[0]["id"]
        self.home.update({"id": review, "title": "Review (moved)",
                          "start": with_offset("2024-05-03 14:00"),
                          "end": with_offset("2024-05-03 15:00")})
        self.assertEqual(self.home.ok("delete", "--id", weekly), {"ok": True})
        self.home.update({"id": weekly, "title": "Weekly sync (long)",
                          "end": utc("2024-10-28 09:30")})
        self.assertEqual(
            [line.rsplit("|", 2)[0] for line in self.khal_list("2024-05-03", "2024-05-04")],
            ["Review (moved)|2024-05-03 14:00|2024-05-03 15:00|False||Work",
             "Offsite|2024-05-04|2024-05-04|True|Kantine|Work"],
        )
        self.assertEqual(
            [line.split("|")[:4] for line in self.khal_list("2024-10-20", "2024-11-06")],
            [
                ["Weekly sync (long)", "2024-10-28 08:00", "2024-10-28 09:30", "False"],
                ["Weekly sync", "2024-11-04 08:00", "2024-11-04 08:30", "False"],
            ],
        )

    def test_khal_reads_another_tools_file_that_tembra_changed(self):
        # As Google Calendar and a wiki's exporter write them: empty texts, a name libical does
        # not know. tembra keeps those lines; khal still reads the file it writes.
        path = self.home.store / "acme" / "work" / "exported.ics"
        path.write_bytes(
            b"BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//Tool//EN\r\n"
            b"BEGIN:VEVENT\r\nUID:exported-1\r\nDTSTAMP:20240401T000000Z\r\n"
            b"DTSTART:20240507T090000Z\r\nDTEND:20240507T100000Z\r\nSUMMARY:Planning\r\n"
            b"DESCRIPTION:\r\nLOCATION:\r\nEVENT-ALLDAY:false\r\nX-EMPTY:\r\n"
            b"END:VEVENT\r\nEND:VCALENDAR\r\n")
        self.home.update({"id": "acme/work/exported.ics", "title": "Planning (moved)",
                          "start": "2024-05-07T12:00:00Z", "end": "2024-05-07T13:00:00Z"})
        text = path.read_bytes()
        for kept in (b"\r\nDESCRIPTION:\r\n", b"\r\nEVENT-ALLDAY:false\r\n", b"\r\nX-EMPTY:\r\n"):
            self.assertIn(kept, text)
        self.assertEqual(
            self.khal_list("2024-05-07", "2024-05-08"),
            [f"Planning (moved)|{wall_clock('2024-05-07T12:00:00Z')}|"
             f"{wall_clock('2024-05-07T13:00:00Z')}|False||Work|exported-1|"])

    def test_khal_reads_the_series_tembra_makes_as_the_same_occurrences(self):
        # Weekly on Monday and Wednesday at 09:00 local time, eight times; then one moved, one
        # removed, and the future split off from the fifth with a title of its own.
        series = self.home.create({
            "title": "Standup", "start": with_offset("2024-05-06 09:00"),
            "end": with_offset("2024-05-06 09:30"),
            "recurrence": "FREQ=WEEKLY;BYDAY=MO,WE;COUNT=8",
        })
        self.home.update({"id": series, "occurrence": with_offset("2024-05-08 09:00"),
                          "start": with_offset("2024-05-08 11:00"),
                          "end": with_offset("2024-05-08 11:30"), "title": "Moved"})
        self.home.ok("delete", "--id", series, "--occurrence", with_offset("2024-05-13 09:00"))
        self.home.update({"id": series, "occurrence": with_offset("2024-05-20 09:00"),
                          "span": "future", "title": "Retro"})
        listed = self.home.ok("list", "--from", utc("2024-05-01 00:00"),
                              "--to", utc("2024-06-01 00:00"), "--occurrences", "all")
        self.assertEqual(len(listed), 7)
        self.assertEqual(
            [line.rsplit("|", 5)[0] for line in self.khal_list("2024-05-01", "2024-05-31")],
            [f"{event['title']}|{wall_clock(event['start'])}|{wall_clock(event['end'])}"
             for event in listed])

    def test_a_calendar_folder_khal_makes_is_a_tembra_calendar(self):
        home_config = self.home.path / "khal-home.conf"
        locale = interop.documented_config("[calendars]").split("[locale]", 1)[1]
        home_config.write_text(
            "[calendars]\n[[home]]\npath = ~/.local/share/tembra/personal/home\n"
            "type = calendar\n\n[locale]" + locale,
            encoding="utf-8",
        )
        self.khal("new", "-a", "home", "2024-05-05", "12:00", "13:00", "Lunch",
                  config=home_config)

        calendars = self.home.tembra("calendars")
        self.assertEqual(calendars, interop.Result(0, (
            '[{"allowsContentModifications":true,"color":"#336699","id":"acme\\/work",'
            '"source":"Acme","title":"Work"},'
            '{"allowsContentModifications":true,"color":"","id":"personal\\/home",'
            '"source":"personal","title":"home"}]\n'), ""))
        self.assertEqual(
            occurrences(self.home.events(utc("2024-05-05"), utc("2024-05-06")),
                        "title", "calendarId", "calendarTitle", "start", "end"),
            [("Lunch", "personal/home", "home", utc("2024-05-05 12:00"),
              utc("2024-05-05 13:00"))],
        )

        saved = self.home.ok("create", "--input", '{"title":"Dinner","calendarId":"personal/home",'
                                                  f'"start":"{utc("2024-05-05 19:00")}"}}')
        self.assertEqual((saved["calendarId"], saved["calendarTitle"]), ("personal/home", "home"))
        for config in (home_config, self.config):
            self.assertEqual(
                [line.split("|")[:3] + [line.split("|")[5]]
                 for line in self.khal_list("2024-05-05", "2024-05-06", config=config)],
                [["Lunch", "2024-05-05 12:00", "2024-05-05 13:00", "home"],
                 ["Dinner", "2024-05-05 19:00", "2024-05-05 20:00", "home"]],
            )


if __name__ == "__main__":
    interop.main()
