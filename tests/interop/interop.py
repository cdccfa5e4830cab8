"""Shared pieces of the tests that run tembra beside other calendar programs: the executables
under test, a temporary home holding a tembra store where the documented configurations look for
it, those configurations as docs/store.md gives them, and the times of the zone the programs run
in.

Run with Debian's /usr/bin/python3; the tests take the paths of the executables as options:
    /usr/bin/python3 khal_test.py --tembra BIN --tembra-store BIN --source-dir DIR [unittest args]

Every program runs with TZ set to $TEMBRA_TEST_ZONE (UTC when unset); ctest runs each test once per
zone of TEMBRA_TEST_ZONES. Expectations of local times come from the helpers below, never from a
zone written into a test.
"""

import argparse
import collections
import contextlib
import datetime
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import zoneinfo

Result = collections.namedtuple("Result", "status out err")

# The zone of every program the tests run.
ZONE = os.environ.get("TEMBRA_TEST_ZONE") or "UTC"


def local(wall):
    """A wall-clock time of ZONE, "2024-05-03 10:00" (or a day, "2024-05-03", for its midnight),
    as an aware datetime. A time that a change of offset skips or repeats takes the offset from
    before the change."""
    return datetime.datetime.fromisoformat(wall).replace(tzinfo=zoneinfo.ZoneInfo(ZONE))


def utc(wall):
    """The instant of a wall-clock time of ZONE as tembra writes it: "2024-05-03T08:00:00.000Z"."""
    return written(local(wall))


def written(moment):
    """An aware datetime in tembra's form, in UTC, to the second."""
    return moment.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.000Z")


def with_offset(wall):
    """A wall-clock time of ZONE with its offset, as a host may give it:
    "2024-05-03T10:00:00+02:00"."""
    return local(wall).isoformat()


def wall_clock(instant):
    """The wall-clock time of ZONE at an instant ("2024-05-01T07:30:00Z"), as khal shows it with
    the documented configuration: "2024-05-01 09:30"."""
    moment = datetime.datetime.fromisoformat(instant.replace("Z", "+00:00"))
    return moment.astimezone(zoneinfo.ZoneInfo(ZONE)).strftime("%Y-%m-%d %H:%M")


def all_day(first, last=None):
    """The start and end tembra reports for an all-day event over the days first to last of ZONE:
    the midnight that begins the first, one second before the midnight that ends the last."""
    after = datetime.date.fromisoformat(last or first) + datetime.timedelta(days=1)
    midnight = local(after.isoformat()).astimezone(datetime.timezone.utc)
    return utc(first), written(midnight - datetime.timedelta(seconds=1))


class Paths:
    """Set once by main() from the command line."""

    tembra = None
    tembra_store = None
    source_dir = None
    failing_reads = None  # a library that, preloaded, fails the opening of chosen paths
    scratch = None  # a temporary folder for the run, removed at its end


def main(around=None):
    """Reads the paths of the executables, then runs the module's tests. `around`, when given, is
    a context manager that holds whatever the tests share (a server) while they run."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tembra", required=True)
    parser.add_argument("--tembra-store", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--failing-reads")
    known, rest = parser.parse_known_args()
    Paths.tembra = known.tembra
    Paths.tembra_store = known.tembra_store
    Paths.source_dir = pathlib.Path(known.source_dir)
    Paths.failing_reads = known.failing_reads
    argv = [sys.argv[0]] + rest
    # Stopped from outside (ctest's timeout), the run ends as on Ctrl-C, which unittest does not
    # take for a test's failure, and what the tests started is still cleaned up.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    Paths.scratch = pathlib.Path(tempfile.mkdtemp(prefix="tembra-interop-"))
    try:
        with around() if around else contextlib.nullcontext():
            program = unittest.main(argv=argv, exit=False, verbosity=2)
    finally:
        shutil.rmtree(Paths.scratch, ignore_errors=True)
    sys.exit(0 if program.result.wasSuccessful() else 1)


def documented_config(marker, document="docs/store.md"):
    """The one ```ini block of the document that contains `marker`."""
    text = (Paths.source_dir / document).read_text(encoding="utf-8")
    blocks = [block for block in re.findall(r"```ini\n(.*?)```", text, re.S) if marker in block]
    if len(blocks) != 1:
        raise AssertionError(f"{document} has {len(blocks)} ini blocks with {marker!r}")
    return blocks[0]


def without_comments(config):
    return [line for line in config.splitlines() if not line.startswith("#")]


def document(result, status=0):
    """The JSON document of a tembra run, which must have ended with `status`, written exactly one
    document and a line feed, and nothing to standard error."""
    if result.status != status or result.err != "":
        raise AssertionError(f"expected status {status}, got {result}")
    if not result.out.endswith("\n") or result.out.count("\n") != 1:
        raise AssertionError(f"not one line of output: {result.out!r}")
    return json.loads(result.out)


class Home:
    """A temporary home folder. Its tembra store is ~/.local/share/tembra, the default place, so
    that the configurations of docs/store.md apply unchanged. Every program runs with HOME set to
    it, no XDG_* variables, and TZ set to ZONE."""

    def __init__(self):
        self.path = pathlib.Path(tempfile.mkdtemp(prefix="home-", dir=Paths.scratch))
        self.store = self.path / ".local" / "share" / "tembra"
        self.bin = self.path / "bin"
        self.bin.mkdir()

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def env(self):
        env = {
            name: value
            for name, value in os.environ.items()
            if not name.startswith("XDG_")
            and name != "TEMBRA_STORE"
            and not name.lower().endswith("_proxy")
        }
        env.update(
            HOME=str(self.path),
            TZ=ZONE,
            LANG="C.UTF-8",
            LC_ALL="C.UTF-8",
            PATH=f"{self.bin}:/usr/bin:/bin",
        )
        return env

    def run(self, argv, stdin="", timeout=120):
        completed = subprocess.run(
            [str(arg) for arg in argv],
            input=stdin,
            capture_output=True,
            text=True,
            env=self.env(),
            cwd=self.path,
            timeout=timeout,
        )
        return Result(completed.returncode, completed.stdout, completed.stderr)

    def tembra(self, *args):
        return self.run([Paths.tembra, *args])

    def ok(self, *args):
        """The document of a tembra run that must succeed."""
        return document(self.tembra(*args))

    def admin(self, *args):
        """tembra-store over this home's store; its output without the line feed."""
        result = self.run([Paths.tembra_store, "--store", self.store, *args])
        if result.status != 0:
            raise AssertionError(f"tembra-store {args} failed: {result}")
        return result.out.rstrip("\n")

    def make_store(self, *calendars):
        """An empty store, access granted, with calendars given as add-calendar arguments; the
        first is the default calendar. Returns their identifiers."""
        self.admin("init", "--empty")
        self.admin("set-access", "fullAccess")
        ids = [self.admin("add-calendar", *arguments) for arguments in calendars]
        if ids:
            self.admin("set-default", ids[0])
        return ids

    def create(self, fields):
        """Creates an event and returns its identifier."""
        return self.ok("create", "--input", json.dumps(fields))["id"]

    def update(self, fields):
        return self.ok("update", "--input", json.dumps(fields))

    def events(self, start, end, calendar=None):
        args = ["list", "--from", start, "--to", end]
        if calendar:
            args += ["--calendar", calendar]
        return self.ok(*args)


def occurrences(events, *keys):
    """The events as tuples of the keys, "recurring" read as a flag, for comparing lists."""
    return [
        tuple(event.get(key, False) if key == "recurring" else event[key] for key in keys)
        for event in events
    ]
