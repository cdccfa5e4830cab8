"""The manual pages: groff formats them without a warning, and each names every command word or
verb and every exit status its program has, so that a page cannot fall behind its program."""

import argparse
import re
import subprocess
import sys
import unittest
from pathlib import Path

PAGES = {
    "tembra.1": {
        "words": ["status", "calendars", "default-calendar", "resolve-calendar", "list", "get",
                  "create", "update", "delete", "--input -", "TEMBRA_BACKEND", "TEMBRA_STORE"],
        "statuses": ["0", "1", "2", "3", "4", "5", "64"],
    },
    "tembra-store.1": {
        "words": ["init", "set-access", "set-answer", "add-calendar", "set-default", "import",
                  "reindex", "--help", "TEMBRA_STORE"],
        "statuses": ["0", "1", "2"],
    },
}


class ManPagesTest(unittest.TestCase):
    folder = None

    def render(self, name):
        result = subprocess.run(
            ["groff", "-k", "-Tutf8", "-man", "-ww", "-rLL=100n", str(self.folder / name)],
            capture_output=True, text=True, check=False)
        return result.returncode, result.stderr, re.sub(r".\x08", "", result.stdout)

    def test_every_page_formats_cleanly_and_names_all_its_program_has(self):
        for name, expected in PAGES.items():
            with self.subTest(name):
                status, warnings, text = self.render(name)
                self.assertEqual((status, warnings), (0, ""))
                for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "ENVIRONMENT",
                                "FILES", "EXAMPLES"):
                    self.assertIn("\n" + section + "\n", text)
                for word in expected["words"]:
                    self.assertIn(word, text.replace("\u2010", "-"), word)
                exit_status = text.split("\nEXIT STATUS\n", 1)[1].split("\n\n\n", 1)[0]
                listed = re.findall(r"^ {7}(\d+)\b", exit_status, re.M)
                self.assertEqual(listed, expected["statuses"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True, type=Path)
    arguments, rest = parser.parse_known_args()
    ManPagesTest.folder = arguments.folder
    unittest.main(argv=[sys.argv[0]] + rest)
