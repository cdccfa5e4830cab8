"""Whole runs of each command over EDS (warm services) against the local store, the two stores
alternating from round to round; prints the tables of docs/performance.md. Runs inside
tests/eds/eds_session, in a session of its own for each size:
  TEMBRA_EDS_FIXTURE=build-bench/tembra-eds-fixture tests/eds/eds_session \\
      /usr/bin/python3 bench/eds_timings.py BUILD [ROUNDS] [--big]
BUILD holds the tembra and tembra-eds to time (say, a copy of an earlier build). Without --big
each store holds 100 timed events in May 2024 and a weekly series with an EXDATE and a moved
occurrence. With --big, 20,000 one-hour events over 2024 and 2025 and 300 weekly series without
end: EDS's Personal calendar is written before EDS opens it and kept open by another client, as
GNOME Shell keeps it; the local store imports the same file. Each row gives the median wall time
of the runs; with --big a list of ten years too (3 runs), and the peak memory of a week's and ten
years' lists (GNU time's, 3 runs)."""
import json, os, pathlib, statistics, subprocess, sys, tempfile, time

args = [a for a in sys.argv[1:] if not a.startswith("--")]
big = "--big" in sys.argv
build = args[0]
n = int(args[1]) if len(args) > 1 else 15
tembra = f"{build}/tembra"
store_bin = f"{build}/tembra-store"
fixture = os.environ["TEMBRA_EDS_FIXTURE"]
src = pathlib.Path(__file__).resolve().parent.parent / "tests/access/local/data/weekly_berlin.ics"
local = tempfile.mkdtemp()
envs = {"local": {**os.environ, "TEMBRA_STORE": local, "TZ": "UTC"},
        "eds": {**os.environ, "TEMBRA_BACKEND": "eds", "TZ": "UTC"}}
envs["local"].pop("TEMBRA_BACKEND", None)


def timed(kind, *command):
    """The run's exit status and wall time in ms."""
    start = time.perf_counter()
    status = subprocess.run([tembra, *command], env=envs[kind], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
    return status, (time.perf_counter() - start) * 1000


def peak(kind, *command):
    """The run's peak memory in MB, as GNU time reports it: a program started from this
    interpreter would count the interpreter's memory as its own."""
    r = subprocess.run(["/usr/bin/time", "-f", "%M", tembra, *command], env=envs[kind],
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    assert r.returncode == 0, (kind, command, r.stderr)
    return int(r.stderr.strip().splitlines()[-1]) / 1024


def ok(kind, *command):
    r = subprocess.run([tembra, *command], env=envs[kind], capture_output=True, text=True)
    assert r.returncode == 0, (kind, command, r)
    return json.loads(r.stdout)


subprocess.run([store_bin, "--store", local, "init"], check=True, capture_output=True)
subprocess.run([store_bin, "--store", local, "set-access", "fullAccess"], check=True,
               capture_output=True)
holder = None
if big:
    generated = os.path.join(local, "..", f"generated-{os.getpid()}.ics")
    subprocess.run([fixture, "generate", "system-calendar", "20000", "300"], check=True)
    holder = subprocess.Popen([fixture, "hold", "system-calendar"], stdout=subprocess.PIPE,
                              text=True)
    holder.stdout.readline()  # open
    subprocess.run([fixture, "generate", generated, "20000", "300"], check=True)
    cal = ok("local", "default-calendar")["id"]
    subprocess.run([store_bin, "--store", local, "import", cal, generated], check=True,
                   capture_output=True)
    os.remove(generated)
    day = ("2024-03-05T00:00:00Z", "2024-03-06T00:00:00Z")
else:
    subprocess.run([fixture, "reset"], check=True)
    for kind in envs:
        # 100 events over May 2024, and the weekly series
        for i in range(100):
            d, hour = 1 + i % 30, 8 + i % 10
            ok(kind, "create", "--input", json.dumps({
                "title": f"Event {i}", "start": f"2024-05-{d:02d}T{hour:02d}:00:00Z",
                "alarms": [{"relative": -600}]}))
        if kind == "local":
            cal = ok(kind, "default-calendar")["id"]
            subprocess.run([store_bin, "--store", local, "import", cal, src], check=True,
                           capture_output=True)
        else:
            subprocess.run([fixture, "import", "system-calendar", src], check=True,
                           capture_output=True)
    day = ("2024-05-10T00:00:00Z", "2024-05-11T00:00:00Z")
ids = {kind: ok(kind, "list", "--from", day[0], "--to", day[1])[0]["id"] for kind in envs}


week = ["list", "--from", "2024-03-04T00:00:00Z", "--to", "2024-03-11T00:00:00Z"]
decade = ["list", "--from", "2024-01-01T00:00:00Z", "--to", "2034-01-01T00:00:00Z"]


def commands(kind):
    i = ids[kind]
    rows = [("start-up alone (no command word, status 64)", []),
            ("status", ["status"]), ("calendars", ["calendars"]),
            ("default-calendar", ["default-calendar"]),
            ("resolve-calendar", ["resolve-calendar", "--title", "personal"]),
            ("list, one day", ["list", "--from", day[0], "--to", day[1]])]
    if big:
        rows.append(("list, a week", week))
    else:
        rows += [("list, May (100 events)", ["list", "--from", "2024-05-01T00:00:00Z",
                                             "--to", "2024-06-01T00:00:00Z"]),
                 ("list, March and April (4 of the series)",
                  ["list", "--from", "2024-03-01T00:00:00Z", "--to", "2024-05-01T00:00:00Z"])]
    rows += [("get", ["get", "--id", i]),
             ("create", ["create", "--input",
                         json.dumps({"title": "Timed", "start": "2024-07-01T10:00:00Z"})]),
             ("update", ["update", "--input", json.dumps({"id": i, "title": "Renamed"})]),
             ("delete", None)]
    return rows


times = {}
for rnd in range(n + 2):
    for kind in (("local", "eds") if rnd % 2 == 0 else ("eds", "local")):
        for name, command in commands(kind):
            if command is None:
                command = ["delete", "--id", ok(kind, "create", "--input",
                                                '{"start":"2024-08-01T10:00:00Z"}')["id"]]
            status, ms = timed(kind, *command)
            assert status == (0 if command else 64), (kind, name, status)
            if rnd >= 2:
                times.setdefault(name, {}).setdefault(kind, []).append(ms)
peaks = {}
if big:
    for rnd in range(3):
        for kind in envs:
            status, ms = timed(kind, *decade)
            assert status == 0, (kind, status)
            times.setdefault("list, ten years", {}).setdefault(kind, []).append(ms)
    for name, command in (("list, a week", week), ("list, ten years", decade)):
        peaks[name] = {kind: max(peak(kind, *command) for _ in range(3)) for kind in envs}
if holder:
    holder.kill()
    holder.wait()

print("| command | local store, median ms (range) | EDS, median ms (range) |")
print("|---|---:|---:|")
for name, by in times.items():
    f = lambda v: f"{statistics.median(v):.1f} ({min(v):.1f}–{max(v):.1f})"
    print(f"| {name} | {f(by['local'])} | {f(by['eds'])} |")
for name, by in peaks.items():
    print(f"| {name}: peak memory | {by['local']:.1f} MB | {by['eds']:.1f} MB |")
