"""tembra's store synced with a CalDAV server: vdirsyncer, configured as docs/store.md says, syncs
the source folder "acme" of a store with a Radicale server that this test starts on 127.0.0.1 and
stops by its PID. Each test has an account of its own. Events, changes, deletions, repeating
series and calendar titles and colours travel both ways; curl plays the other client (a phone)."""

import contextlib
import ctypes
import os
import pathlib
import re
import secrets
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

import interop
from interop import Home, all_day, occurrences, with_offset

DAV = "{DAV:}"
APPLE = "{http://apple.com/ns/ical/}"

# Keys of an event record that must come back equal through the server; "id" names a file, and a
# file name is the UID only when the UID is a plain one.
SYNCED_KEYS = ("calendarId", "calendarTitle", "title", "notes", "location", "start", "end",
               "allDay", "alarms", "lastModified", "externalId", "recurring")

BERLIN = """BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:DAYLIGHT
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
TZNAME:CEST
DTSTART:19700329T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
END:DAYLIGHT
BEGIN:STANDARD
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
TZNAME:CET
DTSTART:19701025T030000
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
END:VTIMEZONE
"""


def calendar_text(*components):
    text = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Phone//EN\n" + "".join(components)
    return (text + "END:VCALENDAR\n").replace("\n", "\r\n")


def event_text(uid, summary, start, end, *extra):
    lines = [f"UID:{uid}", "DTSTAMP:20240401T000000Z", start, end, f"SUMMARY:{summary}", *extra]
    return "BEGIN:VEVENT\n" + "".join(line + "\n" for line in lines) + "END:VEVENT\n"


def unfolded_lines(text):
    return re.sub(r"\r?\n[ \t]", "", text).splitlines()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def end_with_parent():
    """Run in the server's process before it starts: it gets SIGTERM when the test process ends,
    even by SIGKILL, so that no server outlives a test run."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Radicale:
    """A Radicale server on 127.0.0.1 with a plain htpasswd file and its storage in a temporary
    folder, run by Debian's Python with a configuration of its own (never /etc/radicale/config).
    Runs of this test in several zones may run at once, each with a server of its own: the folder is
    the run's, the port is a free one, and the accounts' password is the server's own, so that a
    client of one run can never work on another run's server."""

    server = None  # the one shared by the tests of this module

    def __init__(self):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="radicale-", dir=interop.Paths.scratch))
        self.password = secrets.token_hex(16)
        self.users = self.folder / "users"
        self.users.write_text(f"probe:{self.password}\n")
        self.log = self.folder / "log"
        self.process = None
        self.url = None
        self.user_count = 0

    def start(self):
        for _ in range(5):
            port = free_port()
            config = self.folder / "config"
            config.write_text(
                f"[server]\nhosts = 127.0.0.1:{port}\n"
                f"[auth]\ntype = htpasswd\nhtpasswd_filename = {self.users}\n"
                "htpasswd_encryption = plain\ndelay = 0\n"
                "[rights]\ntype = owner_only\n"
                f"[storage]\nfilesystem_folder = {self.folder / 'collections'}\n"
                "[web]\ntype = none\n"
                "[logging]\nlevel = warning\n"
            )
            with open(self.log, "ab") as log:
                self.process = subprocess.Popen(
                    ["/usr/bin/python3", "-m", "radicale", "--config", str(config)],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                    preexec_fn=end_with_parent,
                    env={"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "HOME": str(self.folder)},
                )
            if self.wait_until_listening(port) and self.answers_as_itself(port):
                return
            self.stop()  # most likely the port was taken in between: try another
        raise RuntimeError("Radicale did not start:\n" + self.log.read_text())

    def wait_until_listening(self, port):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return False
            with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), 0.2):
                return True
            time.sleep(0.05)
        return False

    def answers_as_itself(self, port):
        """Whether the server that answers on the port knows this server's password. One that
        does not is another run's, which took the port first; this server then fails to listen,
        but may not have ended yet when the port is found open."""
        self.url = f"http://127.0.0.1:{port}/"
        with contextlib.suppress(AssertionError):  # no answer at all: the server is gone
            status, _ = self.request("probe", "PROPFIND", "/probe/",
                                     '<propfind xmlns="DAV:"><prop><resourcetype/></prop>'
                                     "</propfind>", ["Depth: 0"])
            if status == 207:
                return True
        self.url = None
        return False

    def stop(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.kill(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.process = None

    def new_user(self):
        self.user_count += 1
        user = f"user{self.user_count}"
        with open(self.users, "a") as users:
            users.write(f"{user}:{self.password}\n")
        return user

    # The other client's side, through curl.

    def request(self, user, method, path, body=None, headers=()):
        argv = ["/usr/bin/curl", "--silent", "--show-error", "--noproxy", "*",
                "--user", f"{user}:{self.password}", "--request", method,
                "--output", "-", "--write-out", "\n%{http_code}"]
        for header in headers:
            argv += ["--header", header]
        if body is not None:
            argv += ["--data-binary", "@-"]
        completed = subprocess.run(argv + [self.url.rstrip("/") + path], input=body or "",
                                   capture_output=True, text=True, timeout=60)
        if completed.returncode != 0:
            raise AssertionError(f"curl {method} {path}: {completed.stderr}")
        text, _, status = completed.stdout.rpartition("\n")
        return int(status), text

    def put(self, user, path, text):
        status, answer = self.request(user, "PUT", path, text,
                                      ["Content-Type: text/calendar; charset=utf-8"])
        if status not in (201, 204):
            raise AssertionError(f"PUT {path}: {status} {answer}")

    def delete(self, user, path):
        status, answer = self.request(user, "DELETE", path)
        if status not in (200, 204):
            raise AssertionError(f"DELETE {path}: {status} {answer}")

    def items(self, user, collection):
        """The collection's event files: UID to (path, unfolded lines)."""
        status, answer = self.request(
            user, "PROPFIND", f"/{user}/{collection}/",
            '<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>', ["Depth: 1"])
        if status != 207:
            raise AssertionError(f"PROPFIND {collection}: {status} {answer}")
        items = {}
        for href in ElementTree.fromstring(answer).iter(DAV + "href"):
            if not href.text.endswith(".ics"):
                continue
            status, text = self.request(user, "GET", href.text)
            lines = unfolded_lines(text)
            uids = {line[4:] for line in lines if line.startswith("UID:")}
            if status != 200 or len(uids) != 1:
                raise AssertionError(f"GET {href.text}: {status} {text}")
            items[uids.pop()] = (href.text, lines)
        return items

    def properties(self, user, collection):
        """The collection's display name and colour as the server gives them."""
        status, answer = self.request(
            user, "PROPFIND", f"/{user}/{collection}/",
            '<propfind xmlns="DAV:" xmlns:I="http://apple.com/ns/ical/"><prop><displayname/>'
            "<I:calendar-color/></prop></propfind>", ["Depth: 0"])
        if status != 207:
            raise AssertionError(f"PROPFIND {collection}: {status} {answer}")
        root = ElementTree.fromstring(answer)
        return (root.find(f".//{DAV}displayname").text, root.find(f".//{APPLE}calendar-color").text)

    def make_calendar(self, user, collection, title, color):
        body = ('<C:mkcalendar xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav" '
                'xmlns:I="http://apple.com/ns/ical/"><D:set><D:prop>'
                f"<D:displayname>{title}</D:displayname>"
                f"<I:calendar-color>{color}</I:calendar-color></D:prop></D:set></C:mkcalendar>")
        status, answer = self.request(user, "MKCALENDAR", f"/{user}/{collection}/", body)
        if status != 201:
            raise AssertionError(f"MKCALENDAR {collection}: {status} {answer}")

    def set_properties(self, user, collection, title, color):
        body = ('<D:propertyupdate xmlns:D="DAV:" xmlns:I="http://apple.com/ns/ical/"><D:set>'
                f"<D:prop><D:displayname>{title}</D:displayname>"
                f"<I:calendar-color>{color}</I:calendar-color></D:prop></D:set></D:propertyupdate>")
        status, answer = self.request(user, "PROPPATCH", f"/{user}/{collection}/", body)
        if status != 207:
            raise AssertionError(f"PROPPATCH {collection}: {status} {answer}")


@contextlib.contextmanager
def running_server():
    Radicale.server = Radicale()
    try:
        Radicale.server.start()
        yield
    finally:
        Radicale.server.stop()


class Replica(Home):
    """A home whose store's source folder "acme" vdirsyncer syncs with a server account, with the
    configuration of docs/store.md in ~/.config/vdirsyncer/config. Only the server's address and
    the user name differ; the password comes, as documented, from `pass dav`, here a script that
    prints it."""

    def __init__(self, server, user):
        super().__init__()
        config = interop.documented_config("[pair ")
        for documented, actual in (('url = "https://dav.example.com/"', f'url = "{server.url}"'),
                                   ('username = "me"', f'username = "{user}"')):
            if documented not in config:
                raise AssertionError(f"docs/store.md no longer has {documented}")
            config = config.replace(documented, actual)
        folder = self.path / ".config" / "vdirsyncer"
        folder.mkdir(parents=True)
        (folder / "config").write_text(config, encoding="utf-8")
        password = self.bin / "pass"
        password.write_text(f'#!/bin/sh\n[ "$1" = dav ] && echo "{server.password}"\n')
        password.chmod(0o755)

    def sync(self):
        """discover (saying yes to every collection it offers to create), sync and metasync."""
        for args, answers in ((["discover"], "y\n" * 20), (["sync"], ""), (["metasync"], "")):
            result = self.run(["/usr/bin/vdirsyncer", *args], answers)
            if result.status != 0 or re.search(r"^(error|critical):", result.err, re.M):
                raise AssertionError(f"vdirsyncer {args[0]} failed: {result}")


class SyncTest(unittest.TestCase):
    def setUp(self):
        self.server = Radicale.server
        self.user = self.server.new_user()

    def replica(self, *calendars):
        """A synced home; with calendars, a store made with them first, else none until the
        first sync or command makes it."""
        home = Replica(self.server, self.user)
        self.addCleanup(home.remove)
        if calendars:
            home.make_store(*calendars)
        return home

    def assertSameEvents(self, a, b, start, end):
        """The two stores list the same occurrences, and they are not none."""
        listed = a.events(start, end)
        self.assertTrue(listed)
        self.assertEqual(occurrences(b.events(start, end), *SYNCED_KEYS),
                         occurrences(listed, *SYNCED_KEYS))
        return listed

    def test_the_readme_gives_the_documented_configuration(self):
        self.assertEqual(
            interop.without_comments(interop.documented_config("[pair ", "README.md")),
            interop.without_comments(interop.documented_config("[pair ")))

    def test_new_events_travel_both_ways(self):
        a = self.replica(["--title", "Work", "--source", "Acme", "--color", "#336699"])
        standup_alarms = [{"relative": -900}, {"absolute": "2024-05-01T07:00:00.000Z"}]
        standup = a.create({"title": "Standup", "notes": "Agenda:\nbudget, hiring",
                            "location": "Raum 4", "start": "2024-05-01T07:30:00Z",
                            "end": "2024-05-01T08:00:00Z", "alarms": standup_alarms})
        a.sync()
        uid = a.ok("get", "--id", standup)["externalId"]
        _, lines = self.server.items(self.user, "work")[uid]
        for line in ("SUMMARY:Standup", "DESCRIPTION:Agenda:\\nbudget\\, hiring",
                     "DTSTART:20240501T073000Z", "DTEND:20240501T080000Z", "TRIGGER:-PT15M"):
            self.assertIn(line, lines)

        # A UID that is not a plain file name: the synced file gets a name of its own.
        self.server.put(self.user, f"/{self.user}/work/lunch.ics", calendar_text(
            BERLIN, event_text("lunch@phone.example", "Lunch",
                               "DTSTART;TZID=Europe/Berlin:20240502T120000",
                               "DTEND;TZID=Europe/Berlin:20240502T130000", "BEGIN:VALARM",
                               "ACTION:DISPLAY", "DESCRIPTION:Lunch",
                               "TRIGGER;VALUE=DATE-TIME:20240502T093000Z", "END:VALARM")))
        a.sync()
        listed = a.events("2024-05-01T00:00:00Z", "2024-05-03T00:00:00Z")
        self.assertEqual(
            occurrences(listed, "title", "start", "end", "allDay", "calendarId", "externalId"),
            [("Standup", "2024-05-01T07:30:00.000Z", "2024-05-01T08:00:00.000Z", False,
              "acme/work", uid),
             ("Lunch", "2024-05-02T10:00:00.000Z", "2024-05-02T11:00:00.000Z", False,
              "acme/work", "lunch@phone.example")])
        self.assertEqual(a.ok("get", "--id", listed[1]["id"]), listed[1])

        # Alarms at a time of day are instants: another store, in the same zone, reads each at
        # the instant it was set, from tembra's file and from the phone's.
        b = self.replica()
        b.sync()
        self.assertEqual(
            occurrences(b.events("2024-05-01T00:00:00Z", "2024-05-03T00:00:00Z"), "title",
                        "alarms"),
            [("Standup", standup_alarms), ("Lunch", [{"absolute": "2024-05-02T09:30:00.000Z"}])])

    def test_changes_and_deletions_travel_both_ways(self):
        a = self.replica(["--title", "Work", "--source", "Acme"])
        standup = a.create({"title": "Standup", "start": "2024-05-01T07:30:00Z"})
        a.sync()
        lunch_path = f"/{self.user}/work/lunch.ics"
        self.server.put(self.user, lunch_path, calendar_text(
            event_text("lunch", "Lunch", "DTSTART:20240502T100000Z", "DTEND:20240502T110000Z")))
        a.sync()
        uid = a.ok("get", "--id", standup)["externalId"]
        lunch = a.events("2024-05-02T00:00:00Z", "2024-05-03T00:00:00Z")[0]["id"]

        a.update({"id": standup, "title": "Standup (moved)", "start": "2024-05-01T09:00:00Z",
                  "end": "2024-05-01T09:30:00Z"})
        self.server.put(self.user, lunch_path, calendar_text(
            event_text("lunch", "Lunch with Ana", "DTSTART:20240502T103000Z",
                       "DTEND:20240502T113000Z")))
        a.sync()
        standup_path, lines = self.server.items(self.user, "work")[uid]
        self.assertIn("SUMMARY:Standup (moved)", lines)
        self.assertIn("DTSTART:20240501T090000Z", lines)
        changed = a.ok("get", "--id", lunch)
        self.assertEqual((changed["title"], changed["start"], changed["end"]),
                         ("Lunch with Ana", "2024-05-02T10:30:00.000Z", "2024-05-02T11:30:00.000Z"))

        self.assertEqual(a.ok("delete", "--id", lunch), {"ok": True})
        self.server.delete(self.user, standup_path)
        a.sync()
        self.assertEqual(self.server.items(self.user, "work"), {})
        gone = standup.replace("/", "\\/")
        self.assertEqual(a.tembra("get", "--id", standup),
                         interop.Result(4, f'{{"error":"事件不存在或已删除: {gone}"}}\n', ""))
        self.assertEqual(a.events("2024-05-01T00:00:00Z", "2024-05-03T00:00:00Z"), [])

    def test_a_series_from_the_server_survives_changes_in_tembra(self):
        # Weekly on Mondays at 09:00 in Berlin (its TZID, whatever zone the programs run in), five
        # times; the second is excluded and the third moved to 11:00. tembra's list leaves out
        # moved occurrences (they are detached).
        self.server.make_calendar(self.user, "work", "Work", "#336699FF")
        self.server.put(self.user, f"/{self.user}/work/team.ics", calendar_text(
            BERLIN,
            event_text("team-call@phone.example", "Team call",
                       "DTSTART;TZID=Europe/Berlin:20240506T090000",
                       "DTEND;TZID=Europe/Berlin:20240506T093000", "RRULE:FREQ=WEEKLY;COUNT=5",
                       "EXDATE;TZID=Europe/Berlin:20240513T090000"),
            event_text("team-call@phone.example", "Team call (moved)",
                       "DTSTART;TZID=Europe/Berlin:20240520T110000",
                       "DTEND;TZID=Europe/Berlin:20240520T113000",
                       "RECURRENCE-ID;TZID=Europe/Berlin:20240520T090000")))
        a = self.replica()
        a.sync()
        window = ("2024-05-01T00:00:00Z", "2024-06-10T00:00:00Z")
        self.assertEqual(occurrences(a.events(*window), "title", "start", "recurring"), [
            ("Team call", "2024-05-06T07:00:00.000Z", True),
            ("Team call", "2024-05-27T07:00:00.000Z", True),
            ("Team call", "2024-06-03T07:00:00.000Z", True),
        ])

        # The first occurrence is removed; then the first left, the moved one, is renamed.
        series = a.events(*window)[0]["id"]
        self.assertEqual(a.ok("delete", "--id", series), {"ok": True})
        a.update({"id": series, "title": "Team call (moved again)"})
        a.sync()
        _, lines = self.server.items(self.user, "work")["team-call@phone.example"]
        for line in ("EXDATE;TZID=Europe/Berlin:20240506T090000",
                     "EXDATE;TZID=Europe/Berlin:20240513T090000",
                     "RECURRENCE-ID;TZID=Europe/Berlin:20240520T090000",
                     "SUMMARY:Team call (moved again)"):
            self.assertIn(line, lines)

        b = self.replica()
        b.sync()
        self.assertEqual(occurrences(self.assertSameEvents(a, b, *window), "title", "start"), [
            ("Team call", "2024-05-27T07:00:00.000Z"),
            ("Team call", "2024-06-03T07:00:00.000Z"),
        ])
        moved = b.ok("get", "--id", b.events(*window)[0]["id"])
        self.assertEqual((moved["title"], moved["start"], moved["end"]),
                         ("Team call (moved again)", "2024-05-20T09:00:00.000Z",
                          "2024-05-20T09:30:00.000Z"))

    def test_lines_libical_cannot_read_travel_both_ways(self):
        # An empty text and a property name libical does not know, as some exporters write them:
        # tembra lists the event, changes it, and the lines reach the server as they were.
        self.server.make_calendar(self.user, "work", "Work", "#336699FF")
        self.server.put(self.user, f"/{self.user}/work/export.ics", calendar_text(
            event_text("export@wiki.example", "Planning", "DTSTART:20240507T090000Z",
                       "DTEND:20240507T100000Z", "DESCRIPTION:", "EVENT-ALLDAY:false")))
        a = self.replica()
        a.sync()
        window = ("2024-05-01T00:00:00Z", "2024-06-01T00:00:00Z")
        (planning,) = a.events(*window)
        self.assertEqual((planning["title"], planning["notes"]), ("Planning", ""))
        a.update({"id": planning["id"], "title": "Planning (moved)",
                  "start": "2024-05-07T12:00:00Z", "end": "2024-05-07T13:00:00Z"})
        a.sync()
        _, lines = self.server.items(self.user, "work")["export@wiki.example"]
        for line in ("SUMMARY:Planning (moved)", "DTSTART:20240507T120000Z", "DESCRIPTION:",
                     "EVENT-ALLDAY:false"):
            self.assertIn(line, lines)
        b = self.replica()
        b.sync()
        self.assertEqual(occurrences(self.assertSameEvents(a, b, *window), "title", "start"),
                         [("Planning (moved)", "2024-05-07T12:00:00.000Z")])

    def test_a_series_changed_in_tembra_reaches_another_store(self):
        a = self.replica(["--title", "Work", "--source", "Acme"])
        series_file = a.path / "gym.ics"
        series_file.write_text(calendar_text(
            event_text("gym-weekly", "Gym day", "DTSTART;VALUE=DATE:20240507",
                       "DTEND;VALUE=DATE:20240508", "RRULE:FREQ=WEEKLY;COUNT=4")))
        (series,) = a.admin("import", "acme/work", series_file).splitlines()
        # An all-day occurrence removed, the next one moved by a day.
        self.assertEqual(a.ok("delete", "--id", series), {"ok": True})
        a.update({"id": series, "title": "Gym day (Wednesday)", "allDay": True,
                  "start": with_offset("2024-05-15"), "end": with_offset("2024-05-15 23:59:59")})
        a.sync()
        _, lines = self.server.items(self.user, "work")["gym-weekly"]
        self.assertIn("EXDATE;VALUE=DATE:20240507", lines)
        self.assertIn("RECURRENCE-ID;VALUE=DATE:20240514", lines)

        b = self.replica()
        b.sync()
        window = ("2024-05-01T00:00:00Z", "2024-06-10T00:00:00Z")
        self.assertEqual(
            occurrences(self.assertSameEvents(a, b, *window), "title", "start", "end", "allDay"),
            [("Gym day", *all_day("2024-05-21"), True), ("Gym day", *all_day("2024-05-28"), True)])
        moved = b.ok("get", "--id", b.events(*window)[0]["id"])
        self.assertEqual((moved["title"], moved["start"], moved["allDay"]),
                         ("Gym day (Wednesday)", all_day("2024-05-15")[0], True))

    def test_calendar_title_and_colour_travel_with_metasync(self):
        a = self.replica(["--title", "Work", "--source", "Acme", "--color", "#336699"])
        a.sync()
        self.assertEqual(self.server.properties(self.user, "work"), ("Work", "#336699"))
        # Changed on the store's side, as khal or a person would: the metadata files.
        work = a.store / "acme" / "work"
        (work / "displayname").write_text("Work (Acme)")
        (work / "color").write_text("#FF8000")
        a.sync()
        self.assertEqual(self.server.properties(self.user, "work"), ("Work (Acme)", "#FF8000"))

        # Made on the server with an alpha component in its colour, as phones write it.
        self.server.make_calendar(self.user, "personal", "Personal", "#00AA11CC")
        a.sync()
        self.assertEqual(a.tembra("calendars"), interop.Result(0, (
            '[{"allowsContentModifications":true,"color":"#FF8000","id":"acme\\/work",'
            '"source":"Acme","title":"Work (Acme)"},'
            '{"allowsContentModifications":true,"color":"#00AA11","id":"acme\\/personal",'
            '"source":"Acme","title":"Personal"}]\n'), ""))
        self.server.set_properties(self.user, "personal", "Privat", "#3366CCFF")
        a.sync()
        self.assertEqual(
            [(calendar["title"], calendar["color"]) for calendar in a.ok("calendars")],
            [("Work (Acme)", "#FF8000"), ("Privat", "#3366CC")])

    def test_files_the_store_rewrites_are_accepted_by_the_server(self):
        a = self.replica(["--title", "Work", "--source", "Acme"],
                         ["--title", "Home", "--source", "Acme"])
        # One event in both calendars, as a server may hold an invitation twice.
        invitation = calendar_text(event_text("invite@example.com", "Kick-off",
                                              "DTSTART:20240507T100000Z",
                                              "DTEND:20240507T110000Z"))
        self.server.make_calendar(self.user, "work", "Work", "#336699")
        self.server.make_calendar(self.user, "home", "Home", "#336699")
        self.server.put(self.user, f"/{self.user}/work/invite.ics", invitation)
        self.server.put(self.user, f"/{self.user}/home/invite.ics", invitation)
        a.sync()
        # A file another program wrote without a UID, which the server would refuse as it is.
        (a.store / "acme" / "work" / "hand-made.ics").write_text(calendar_text(
            "BEGIN:VEVENT\nDTSTAMP:20240401T000000Z\nDTSTART:20240508T100000Z\n"
            "DTEND:20240508T110000Z\nSUMMARY:Hand made\nEND:VEVENT\n"))

        a.update({"id": "acme/work/hand-made.ics", "title": "Hand made, then changed"})
        kickoff = [event for event in a.events("2024-05-07T00:00:00Z", "2024-05-08T00:00:00Z")
                   if event["calendarId"] == "acme/work"][0]
        a.update({"id": kickoff["id"], "calendarId": "acme/home"})
        a.sync()

        summaries = {collection: sorted(line for _, lines in
                                        self.server.items(self.user, collection).values()
                                        for line in lines if line.startswith("SUMMARY:"))
                     for collection in ("work", "home")}
        self.assertEqual(summaries, {"work": ["SUMMARY:Hand made\\, then changed"],
                                     "home": ["SUMMARY:Kick-off", "SUMMARY:Kick-off"]})


if __name__ == "__main__":
    interop.main(running_server)
