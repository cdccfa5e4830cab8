"""Whole runs of each command over EDS (warm services) against the local store, the two stores
alternating from round to round; prints the table of docs/performance.md. Runs inside
tests/eds/eds_session:
  TEMBRA_EDS_FIXTURE=build/tembra-eds-fixture tests/eds/eds_session \
      /usr/bin/python3 bench/eds_timings.py build [ROUNDS]"""
import json, os, pathlib, statistics, subprocess, sys, tempfile, time
build = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 20
tembra = f"{build}/tembra"
store_bin = f"{build}/tembra-store"
fixture = os.environ["TEMBRA_EDS_FIXTURE"]
src = pathlib.Path(__file__).resolve().parent.parent / "tests/access/local/data/weekly_berlin.ics"
local = tempfile.mkdtemp()
envs = {"local": {**os.environ, "TEMBRA_STORE": local, "TZ": "UTC"},
        "eds": {**os.environ, "TEMBRA_BACKEND": "eds", "TZ": "UTC"}}
envs["local"].pop("TEMBRA_BACKEND", None)
def run(kind, *args):
    r = subprocess.run([tembra, *args], env=envs[kind], capture_output=True, text=True)
    return r
subprocess.run([store_bin, "--store", local, "init"], check=True, capture_output=True)
subprocess.run([store_bin, "--store", local, "set-access", "fullAccess"], check=True, capture_output=True)
subprocess.run([fixture, "reset"], check=True)
ids = {}
for kind in envs:
    # 100 events over May 2024, and the weekly series
    for i in range(100):
        day, hour = 1 + i % 30, 8 + i % 10
        r = run(kind, "create", "--input", json.dumps({"title": f"Event {i}", "start": f"2024-05-{day:02d}T{hour:02d}:00:00Z", "alarms": [{"relative": -600}]}))
        assert r.returncode == 0, r
    if kind == "local":
        cal = json.loads(run(kind, "default-calendar").stdout)["id"]
        subprocess.run([store_bin, "--store", local, "import", cal, src], check=True, capture_output=True)
    else:
        subprocess.run([fixture, "import", "system-calendar", src], check=True, capture_output=True)
    ids[kind] = json.loads(run(kind, "list", "--from", "2024-05-10T00:00:00Z", "--to", "2024-05-11T00:00:00Z").stdout)[0]["id"]
def commands(kind):
    i = ids[kind]
    return [("status", ["status"]), ("calendars", ["calendars"]), ("default-calendar", ["default-calendar"]),
            ("resolve-calendar", ["resolve-calendar", "--title", "personal"]),
            ("list day", ["list", "--from", "2024-05-10T00:00:00Z", "--to", "2024-05-11T00:00:00Z"]),
            ("list month (100 events)", ["list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-06-01T00:00:00Z"]),
            ("list with the series", ["list", "--from", "2024-03-01T00:00:00Z", "--to", "2024-05-01T00:00:00Z"]),
            ("get", ["get", "--id", i]),
            ("create", ["create", "--input", json.dumps({"title": "Timed", "start": "2024-07-01T10:00:00Z"})]),
            ("update", ["update", "--input", json.dumps({"id": i, "title": "Renamed"})]),
            ("create+delete", None)]
times = {}
for rnd in range(n + 2):
    for kind in (("local", "eds") if rnd % 2 == 0 else ("eds", "local")):
        for name, args in commands(kind):
            if args is None:
                cid = json.loads(run(kind, "create", "--input", '{"start":"2024-08-01T10:00:00Z"}').stdout)["id"]
                args = ["delete", "--id", cid]
                name = "delete"
            t = time.perf_counter(); r = run(kind, *args); dt = (time.perf_counter() - t) * 1000
            assert r.returncode == 0, (kind, name, r)
            if rnd >= 2:
                times.setdefault(name, {}).setdefault(kind, []).append(dt)
print("| command | local median ms (range) | EDS median ms (range) |")
print("|---|---:|---:|")
for name, by in times.items():
    f = lambda v: f"{statistics.median(v):.1f} ({min(v):.1f}–{max(v):.1f})"
    print(f"| {name} | {f(by['local'])} | {f(by['eds'])} |")
