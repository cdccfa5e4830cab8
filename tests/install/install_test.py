"""The install rules: `cmake --install` into a temporary prefix lays out the files where the
manual pages and docs/hosts.md say, and the installed tembra runs from there, over a store of its
own, and hands a run to the installed tembra-eds."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path


class InstallTest(unittest.TestCase):
    build_dir = source_dir = None
    eds = False

    def setUp(self):
        self.prefix = Path(tempfile.mkdtemp(prefix="tembra-install."))
        self.addCleanup(shutil.rmtree, self.prefix, True)
        subprocess.run(["cmake", "--install", str(self.build_dir), "--prefix", str(self.prefix)],
                       check=True, capture_output=True)

    def installed(self):
        return sorted(str(path.relative_to(self.prefix)) for path in self.prefix.rglob("*")
                      if path.is_file())

    def run_tembra(self, *args, backend=None):
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("TEMBRA_", "DBUS_"))}
        env["TEMBRA_STORE"] = str(self.prefix / "store")
        if backend:
            env["TEMBRA_BACKEND"] = backend
        return subprocess.run([str(self.prefix / "bin" / "tembra"), *args], env=env,
                              capture_output=True, text=True, check=False)

    def test_the_files_are_where_they_belong(self):
        schemas = sorted(path.name for path in (self.source_dir / "docs" / "schema").iterdir())
        expected = (["bin/tembra", "bin/tembra-store"]
                    + (["libexec/tembra/tembra-eds"] if self.eds else [])
                    + ["share/man/man1/tembra-store.1", "share/man/man1/tembra.1"]
                    + [f"share/tembra/schema/{name}" for name in schemas])
        self.assertEqual(self.installed(), sorted(expected))
        for program in ["bin/tembra", "bin/tembra-store"] + expected[2:3] * self.eds:
            self.assertTrue(os.access(self.prefix / program, os.X_OK), program)

    def test_the_installed_tembra_runs_and_finds_its_helper(self):
        status = self.run_tembra("status")
        self.assertEqual((status.returncode, status.stdout, status.stderr),
                         (0, '{"granted":false,"status":"notDetermined"}\n', ""))
        calendars = self.run_tembra("calendars")
        self.assertEqual(calendars.returncode, 0, calendars.stdout)
        self.assertEqual([calendar["title"] for calendar in json.loads(calendars.stdout)], ["日历"])
        # Without a session bus the desktop's calendars are out of reach: tembra-eds answers
        # "restricted"; a tembra that did not find it would say that it is not installed.
        eds = self.run_tembra("status", backend="eds")
        expected = "restricted" if self.eds else "unknown"
        self.assertEqual(eds.stdout, f'{{"granted":false,"status":"{expected}"}}\n')


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True, type=Path)
    parser.add_argument("--source-dir", required=True, type=Path)
    parser.add_argument("--eds", required=True, choices=["0", "1"])
    arguments, rest = parser.parse_known_args()
    InstallTest.build_dir = arguments.build_dir
    InstallTest.source_dir = arguments.source_dir
    InstallTest.eds = arguments.eds == "1"
    unittest.main(argv=[sys.argv[0]] + rest)
