"""The JSON schemas of docs/schema against tembra's output over EDS, the GNOME desktop's calendar
service: every command is run into its outcomes there and each document is checked against the
schema the README names for it. Runs inside tests/eds/eds_session, which provides the session bus
and the services; TEMBRA_EDS_FIXTURE names the program that sets EDS up."""

import json
import os
import subprocess
import unittest

import interop
from interop import Paths, Result, document, with_offset
from schema_test import ERROR, Schemas


def run(argv, env=None):
    completed = subprocess.run([str(arg) for arg in argv], capture_output=True, text=True,
                               env={**os.environ, "TZ": interop.ZONE, **(env or {})}, timeout=120)
    return Result(completed.returncode, completed.stdout, completed.stderr)


def fixture(*args):
    result = run([os.environ["TEMBRA_EDS_FIXTURE"], *args])
    if result.status != 0:
        raise AssertionError(f"tembra-eds-fixture {args} failed: {result}")
    return result.out.rstrip("\n")


class EdsSchemaTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.schemas = Schemas(Paths.source_dir / "docs" / "schema")

    def check(self, name, args, status, schema, env=None):
        """Runs tembra over EDS, expects the status, and validates its document against the
        schema (the error record's for a failure). Returns the document."""
        with self.subTest(name):
            value = document(run([Paths.tembra, *args], {"TEMBRA_BACKEND": "eds", **(env or {})}),
                             status)
            expected = ERROR if status else schema
            self.assertEqual(self.schemas.errors(expected, value), [], f"{args}: {value}")
            return value

    def test_every_outcome_over_eds_matches_its_schema(self):
        fixture("reset")
        self.check("status", ["status"], 0, "status.schema.json")
        work = fixture("add-calendar", "--title", "Work", "--source", "Acme", "--color", "#336699")
        birthday = fixture("add-birthday", "Ana", "1990-05-10")
        series = fixture("import", work,
                         Paths.source_dir / "tests" / "access" / "local" / "data" /
                         "weekly_berlin.ics")
        for name, args, schema in [
                ("calendars", ["calendars"], "calendars.schema.json"),
                ("default calendar", ["default-calendar"], "chosen-calendar.schema.json"),
                ("resolved by title", ["resolve-calendar", "--title", "work"],
                 "chosen-calendar.schema.json"),
                ("not resolved", ["resolve-calendar", "--title", "Nope"],
                 "chosen-calendar.schema.json")]:
            self.check(name, args, 0, schema)

        timed = self.check("create a timed event", ["create", "--input", json.dumps({
            "title": "Standup", "notes": "Agenda", "location": "Raum 4",
            "start": "2024-05-01T09:30:00.000Z", "end": "2024-05-01T17:45:00+08:00",
            "calendarId": work, "alarms": [{"relative": -900},
                                           {"absolute": "2024-05-01T08:00:00Z"}]})],
            0, "saved-event.schema.json")["id"]
        self.check("create an all-day event", ["create", "--input", json.dumps({
            "title": "Holiday", "start": with_offset("2024-05-02"), "allDay": True})],
            0, "saved-event.schema.json")
        listed = self.check("list", ["list", "--from", "2024-03-01T00:00:00Z",
                                     "--to", "2024-06-01T00:00:00Z"], 0, "events.schema.json")
        self.assertEqual(len(listed), 7)  # four of the series, the birthday, the two created
        self.check("list one calendar", ["list", "--from", "2024-03-01T00:00:00Z",
                                         "--to", "2024-06-01T00:00:00Z", "--calendar", work],
                   0, "events.schema.json")
        event = self.check("get", ["get", "--id", timed], 0, "event.schema.json")
        self.check("get a repeating event", ["get", "--id", series], 0, "event.schema.json")
        self.check("update", ["update", "--input", json.dumps(
            {"id": timed, "title": "", "alarms": event["alarms"]})], 0, "saved-event.schema.json")
        self.check("update an occurrence", ["update", "--input", json.dumps(
            {"id": series, "title": "First"})], 0, "saved-event.schema.json")
        # The additions for repeating events: the series is weekly at 09:00 Berlin from 13 March.
        every = self.check("list every occurrence", [
            "list", "--from", "2024-03-01T00:00:00Z", "--to", "2024-05-01T00:00:00Z",
            "--occurrences", "all"], 0, "events.schema.json")
        self.assertTrue(all("occurrence" in each for each in every if each.get("recurring")))
        self.check("get one occurrence", ["get", "--id", series, "--occurrence",
                                          "2024-03-20T08:00:00Z"], 0, "event.schema.json")
        later = self.check("update the future", ["update", "--input", json.dumps({
            "id": series, "occurrence": "2024-04-10T07:00:00Z", "span": "future",
            "title": "Later"})], 0, "saved-event.schema.json")["id"]
        self.check("create a series", ["create", "--input", json.dumps({
            "start": "2024-05-01T09:30:00Z", "recurrence": "FREQ=DAILY;COUNT=2",
            "calendarId": work})], 0, "saved-event.schema.json")
        self.check("delete an occurrence", ["delete", "--id", series, "--occurrence",
                                            "2024-03-20T08:00:00Z"], 0, "deletion.schema.json")
        self.check("delete a series", ["delete", "--id", later, "--span", "all"],
                   0, "deletion.schema.json")
        self.check("update in a read-only calendar", ["update", "--input", json.dumps(
            {"id": birthday, "title": "x"})], 1, None)
        self.check("delete", ["delete", "--id", timed], 0, "deletion.schema.json")
        self.check("delete again", ["delete", "--id", timed], 0, "deletion.schema.json")
        self.check("delete in a read-only calendar", ["delete", "--id", birthday], 1, None)
        for name, args, status in [
                ("list of an unknown calendar", ["list", "--from", "2024-05-01T00:00:00Z",
                                                 "--to", "2024-05-02T00:00:00Z",
                                                 "--calendar", "nope"], 5),
                ("get of an unknown event", ["get", "--id", "system-calendar/nope"], 4),
                ("update of an unknown event", ["update", "--input", '{"id":"nope"}'], 4),
                ("create without input", ["create"], 64)]:
            self.check(name, args, status, None)

        no_bus = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent"}
        self.check("status without a bus", ["status"], 0, "status.schema.json", no_bus)
        self.check("calendars without a bus", ["calendars"], 2, None, no_bus)
        unknown = {"TEMBRA_BACKEND": "nope"}
        self.check("status of an unknown back-end", ["status"], 0, "status.schema.json", unknown)
        self.check("calendars of an unknown back-end", ["calendars"], 64, None, unknown)


if __name__ == "__main__":
    interop.main()
