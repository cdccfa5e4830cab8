"""The JSON schemas of docs/schema against real output: every command is run into each of its
outcomes over a local store, its document is checked against the schema the README names for it,
and the README's table of schemas and exit statuses is checked against the outcomes seen."""

import json
import os
import re
import unittest

from jsonschema import Draft202012Validator, RefResolver

import interop
from interop import Home, document, with_offset

ERROR = "error.schema.json"


ID_BASE = "https://tembra.invalid/schema/"


def offline(uri):
    raise AssertionError(f"a reference left the schemas: {uri}")


class Schemas:
    """The schema files of docs/schema; each has an $id under ID_BASE, and they refer to each other
    by file name relative to it, so that every reference resolves among them, offline."""

    def __init__(self, folder):
        self.folder = folder
        self.documents = {path.name: json.loads(path.read_text(encoding="utf-8"))
                          for path in sorted(folder.glob("*.schema.json"))}
        self.by_id = {schema["$id"]: schema for schema in self.documents.values()}

    def resolver(self, name):
        schema = self.documents[name]
        return RefResolver(schema["$id"], schema, store=self.by_id,
                           handlers={"http": offline, "https": offline, "file": offline})

    def validator(self, name):
        return Draft202012Validator(self.documents[name], resolver=self.resolver(name))

    def errors(self, name, value):
        return [error.message for error in self.validator(name).iter_errors(value)]


def readme_table():
    """The README's schema table: command to (schema on success, failure statuses)."""
    text = (interop.Paths.source_dir / "README.md").read_text(encoding="utf-8")
    section = text.split("### Schemas", 1)[1].split("\n#", 1)[0]
    table = {}
    for row in re.findall(r"^\|(.+)\|$", section, re.M):
        cells = [cell.strip() for cell in row.split("|")]
        command = re.fullmatch(r"`([a-z-]+)`|(no or unknown command word)", cells[0])
        if not command:
            continue
        schema = re.search(r"[a-z-]+\.schema\.json", cells[1])
        table[command.group(1) or ""] = (schema.group(0) if schema else None,
                                         {int(status) for status in re.findall(r"\d+", cells[2])})
    return table


class SchemaTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.schemas = Schemas(interop.Paths.source_dir / "docs" / "schema")
        cls.table = readme_table()

    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.seen = {}  # command word ("" for none) to the statuses it ended with

    def check(self, name, args, status, schema):
        """Runs tembra, expects the status, and validates its document against the schema (the
        error record's for a failure). Returns the document."""
        with self.subTest(name):
            value = document(self.home.tembra(*args), status)
            expected = ERROR if status else schema
            self.assertEqual(self.schemas.errors(expected, value), [], f"{args}: {value}")
            command = args[0] if args and args[0] in self.table else ""
            self.seen.setdefault(command, {})[status] = expected
            return value

    def check_input(self, command, fields):
        """The input must be valid for the command's input schema; returns its JSON text."""
        self.assertEqual(self.schemas.errors(f"{command}-input.schema.json", fields), [], fields)
        return json.dumps(fields, ensure_ascii=False)

    def test_every_file_is_a_2020_12_schema(self):
        self.assertTrue(self.schemas.documents)
        for name, schema in self.schemas.documents.items():
            with self.subTest(name):
                self.assertEqual(schema["$schema"], "https://json-schema.org/draft/2020-12/schema")
                self.assertEqual(schema["$id"], ID_BASE + name)
                Draft202012Validator.check_schema(schema)

    def test_every_reference_resolves_among_the_schemas(self):
        def references(value):
            if isinstance(value, dict):
                if isinstance(value.get("$ref"), str):
                    yield value["$ref"]
                for item in value.values():
                    yield from references(item)
            elif isinstance(value, list):
                for item in value:
                    yield from references(item)

        seen = 0
        for name, schema in self.schemas.documents.items():
            resolver = self.schemas.resolver(name)
            for reference in references(schema):
                with self.subTest(f"{name}: {reference}"):
                    _, target = resolver.resolve(reference)
                    self.assertIsInstance(target, dict)
                    seen += 1
        self.assertGreater(seen, 10)

    def test_every_outcome_of_every_command_matches_its_schema_and_the_readme(self):
        home = self.home
        home.admin("init", "--empty")
        self.check("status of a new store", ["status"], 0, "status.schema.json")
        home.admin("set-access", "denied")
        for command in ("calendars", "default-calendar", "resolve-calendar", "list", "get",
                        "create", "update", "delete"):
            self.check(f"{command} without access", [command], 2, None)
        self.check("status when denied", ["status"], 0, "status.schema.json")

        home.admin("set-access", "fullAccess")
        self.check("no calendars", ["calendars"], 0, "calendars.schema.json")
        self.check("no default calendar", ["default-calendar"], 3, None)
        self.check("nothing to resolve to", ["resolve-calendar", "--title", "Work"], 3, None)
        self.check("nowhere to create", ["create", "--input", self.check_input(
            "create", {"start": "2024-05-01T09:30:00Z"})], 3, None)

        work = home.admin("add-calendar", "--title", "Work", "--source", "Acme",
                          "--color", "#336699")
        holidays = home.admin("add-calendar", "--title", "节假日", "--source", "订阅",
                              "--read-only")
        home.admin("add-calendar", "--title", "Personal")
        home.admin("set-default", holidays)
        self.check("create into a read-only default", ["create", "--input", self.check_input(
            "create", {"start": "2024-05-01T09:30:00Z"})], 1, None)
        home.admin("set-default", work)
        for name, args in [("calendars", ["calendars"]),
                           ("default calendar", ["default-calendar"]),
                           ("resolved by title", ["resolve-calendar", "--title", " work "]),
                           ("not resolved", ["resolve-calendar", "--title", "Nope"])]:
            self.check(name, args, 0, "calendars.schema.json" if name == "calendars"
                       else "chosen-calendar.schema.json")

        timed = self.check("create a timed event", ["create", "--input", self.check_input(
            "create", {"title": "Standup", "notes": "Agenda", "location": "Raum 4",
                       "start": "2024-05-01T09:30:00.000Z", "end": "2024-05-01T17:45:00+08:00",
                       "calendarId": work, "alarms": [
                           {"relative": -900}, {"absolute": "2024-05-01T08:00:00Z"},
                           {"relative": 90.5}]})], 0, "saved-event.schema.json")["id"]
        self.check("create an all-day event", ["create", "--input", self.check_input(
            "create", {"title": "Holiday", "start": with_offset("2024-05-02"),
                       "end": with_offset("2024-05-02 23:59:59"), "allDay": True})],
                   0, "saved-event.schema.json")
        series_file = home.path / "series.ics"
        series_file.write_text(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\n"
            "UID:weekly\r\nDTSTAMP:20240401T000000Z\r\nDTSTART:20240501T120000Z\r\n"
            "DTEND:20240501T130000Z\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nSUMMARY:Weekly\r\n"
            "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Weekly\r\nTRIGGER;RELATED=END:PT5M\r\n"
            "END:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
        (series,) = home.admin("import", work, series_file).splitlines()
        (fixed,) = home.admin("import", holidays, series_file).splitlines()

        listed = self.check("list", ["list", "--from", "2024-05-01T00:00:00Z",
                                     "--to", "2024-05-31T00:00:00Z"], 0, "events.schema.json")
        self.assertEqual(len(listed), 8)
        self.check("list one calendar", ["list", "--from", "2024-05-01T00:00:00Z",
                                         "--to", "2024-05-31T00:00:00Z", "--calendar", holidays],
                   0, "events.schema.json")
        self.check("list an empty window", ["list", "--from", "2020-01-01T00:00:00Z",
                                            "--to", "2020-01-02T00:00:00Z"],
                   0, "events.schema.json")
        event = self.check("get", ["get", "--id", timed], 0, "event.schema.json")
        self.check("get a repeating event", ["get", "--id", series], 0, "event.schema.json")
        # The additions for repeating events.
        every = self.check("list every occurrence", [
            "list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-31T00:00:00Z",
            "--occurrences", "all"], 0, "events.schema.json")
        self.assertTrue(all("occurrence" in each for each in every if each.get("recurring")))
        self.check("get one occurrence", ["get", "--id", series, "--occurrence",
                                          "2024-05-08T12:00:00Z"], 0, "event.schema.json")
        self.check("update the future", ["update", "--input", self.check_input("update", {
            "id": series, "occurrence": "2024-05-08T12:00:00Z", "span": "future",
            "title": "Later"})], 0, "saved-event.schema.json")
        self.check("create a series", ["create", "--input", self.check_input("create", {
            "start": "2024-05-01T09:30:00Z", "recurrence": "FREQ=DAILY;COUNT=2"})],
                   0, "saved-event.schema.json")
        self.check("delete an occurrence", ["delete", "--id", series, "--occurrence",
                                            "2024-05-01T12:00:00Z"], 0, "deletion.schema.json")
        self.check("delete a series", ["delete", "--id", series, "--span", "all"],
                   0, "deletion.schema.json")

        # Alarm records go back into update unchanged.
        self.check("update", ["update", "--input", self.check_input(
            "update", {"id": timed, "title": "", "allDay": False, "calendarId": work,
                       "alarms": event["alarms"]})], 0, "saved-event.schema.json")
        self.assertEqual(home.ok("get", "--id", timed)["alarms"], event["alarms"])
        self.check("update in a read-only calendar", ["update", "--input", self.check_input(
            "update", {"id": fixed, "title": "Changed"})], 1, None)
        self.check("delete", ["delete", "--id", timed], 0, "deletion.schema.json")
        self.check("delete again", ["delete", "--id", timed], 0, "deletion.schema.json")
        self.check("delete in a read-only calendar", ["delete", "--id", fixed], 1, None)

        for name, args, status in [
            ("no command word", [], 64),
            ("an unknown command word", ["frobnicate"], 64),
            ("list without a window", ["list", "--from", "2024-05-01T00:00:00Z"], 64),
            ("list of an unknown calendar", ["list", "--from", "2024-05-01T00:00:00Z",
                                             "--to", "2024-05-02T00:00:00Z",
                                             "--calendar", "acme/nope"], 5),
            ("get without an identifier", ["get"], 64),
            ("get of an unknown event", ["get", "--id", "acme/work/nope.ics"], 4),
            ("create without input", ["create", "--input", "[]"], 64),
            ("update without an identifier", ["update", "--input", "{}"], 64),
            ("update of an unknown event", ["update", "--input", '{"id":"acme/work/nope.ics"}'],
             4),
            ("delete without an identifier", ["delete"], 64),
            ("list with an unknown --occurrences", ["list", "--from", "2024-05-01T00:00:00Z",
                                                    "--to", "2024-05-02T00:00:00Z",
                                                    "--occurrences", "moved"], 64),
            ("get of an unreadable occurrence", ["get", "--id", timed, "--occurrence", "x"], 64),
            ("get of no such occurrence", ["get", "--id", fixed, "--occurrence",
                                           "2024-05-02T12:00:00Z"], 4),
            ("update with an unknown span", ["update", "--input",
                                             '{"id":"acme/work/nope.ics","span":"some"}'], 64),
            ("create with an unusable rule", ["create", "--input",
                                              '{"start":"2024-05-01T09:30:00Z",'
                                              '"recurrence":"FREQ=SOMETIMES"}'], 64),
            ("delete with an unknown span", ["delete", "--id", timed, "--span", "x"], 64),
        ]:
            self.check(name, args, status, None)

        # A calendar folder the disk cannot read: what its reads cannot answer is a failure.
        failing = {"LD_PRELOAD": interop.Paths.failing_reads, "TEMBRA_FAILING_READS": f"/{work}/",
                   "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"}
        saved = {name: os.environ.get(name) for name in failing}
        os.environ.update(failing)
        try:
            for command, args in [
                    ("calendars", ["calendars"]),
                    ("default-calendar", ["default-calendar"]),
                    ("resolve-calendar", ["resolve-calendar", "--title", "Work"]),
                    ("list", ["list", "--from", "2024-05-01T00:00:00Z",
                              "--to", "2024-05-31T00:00:00Z"]),
                    ("get", ["get", "--id", f"{work}/gone.ics"])]:
                failed = self.check(f"{command} of an unreadable calendar", args, 1, None)
                self.assertTrue(failed["error"].startswith("读取日历失败: 无法读取本地日历库: "),
                                failed)
        finally:
            for name, value in saved.items():
                if value is None:
                    del os.environ[name]
                else:
                    os.environ[name] = value

        # A back-end the run cannot serve ends every command but status, which reports it.
        os.environ["TEMBRA_BACKEND"] = "nope"
        try:
            self.check("status of an unknown back-end", ["status"], 0, "status.schema.json")
            for command in ("calendars", "default-calendar", "resolve-calendar", "list", "get",
                            "create", "update", "delete"):
                self.check(f"{command} of an unknown back-end", [command], 64, None)
        finally:
            del os.environ["TEMBRA_BACKEND"]

        table = self.table
        for command, outcomes in self.seen.items():
            with self.subTest(command=command):
                success, failures = table[command]
                self.assertEqual(outcomes.get(0), success)
                self.assertEqual({status for status in outcomes if status}, failures)
        self.assertEqual(set(self.seen), set(table))
        listed_in_readme = {schema for schema, _ in table.values() if schema} | {ERROR}
        self.assertLessEqual(listed_in_readme, set(self.schemas.documents))

    def test_records_are_closed(self):
        calendar = {"id": "acme/work", "title": "Work", "source": "Acme",
                    "allowsContentModifications": True, "color": "#336699"}
        event = {"id": "acme/work/a.ics", "calendarId": "acme/work", "calendarTitle": "Work",
                 "title": "", "notes": "", "location": "", "start": "2024-05-01T09:30:00.000Z",
                 "end": "2024-05-01T10:30:00.000Z", "allDay": False, "alarms": [],
                 "lastModified": 1714555800000, "externalId": "a"}
        self.assertEqual(self.schemas.errors("calendar.schema.json", calendar), [])
        self.assertEqual(self.schemas.errors("event.schema.json", event), [])
        for name, schema, value in [
            ("an unknown key", "calendar.schema.json", {**calendar, "writable": True}),
            ("a missing key", "calendar.schema.json",
             {key: calendar[key] for key in calendar if key != "source"}),
            ("a lower-case colour", "calendar.schema.json", {**calendar, "color": "#33669f"}),
            ("recurring false", "event.schema.json", {**event, "recurring": False}),
            ("a fractional lastModified", "event.schema.json", {**event, "lastModified": 1.5}),
            ("local time", "event.schema.json", {**event, "start": "2024-05-01T11:30:00+02:00"}),
            ("an alarm with both keys", "event.schema.json",
             {**event, "alarms": [{"relative": -900, "absolute": "2024-05-01T08:00:00.000Z"}]}),
            ("a fractional relative alarm", "event.schema.json",
             {**event, "alarms": [{"relative": -90.5}]}),
            ("alreadyGone false", "deletion.schema.json", {"ok": True, "alreadyGone": False}),
            ("an occurrence without its rule", "event.schema.json",
             {**event, "recurring": True, "occurrence": "2024-05-01T09:30:00.000Z"}),
            ("an occurrence of an event that does not repeat", "event.schema.json",
             {**event, "occurrence": "2024-05-01T09:30:00.000Z", "recurrence": ""}),
            ("a span of its own", "update-input.schema.json", {"id": "a", "span": "some"}),
            ("an error with a code", ERROR, {"error": "x", "code": 64}),
            ("create without start", "create-input.schema.json", {"title": "x"}),
            ("start as milliseconds", "create-input.schema.json", {"start": 1714555800000}),
            ("update without id", "update-input.schema.json", {"title": "x"}),
        ]:
            with self.subTest(name):
                self.assertNotEqual(self.schemas.errors(schema, value), [])


if __name__ == "__main__":
    interop.main()
