"""The macOS packaging: the entitlements files tembra is signed with, one for a host without the
sandbox and one for a sandboxed host, and the property-list fragments docs/macos.md tells a host to
use, read as property lists."""

import argparse
import plistlib
import re
import sys
import unittest
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[3]

# Each file with exactly its entitlements: a helper that inherits a sandbox may carry only these two.
ENTITLEMENTS = {
    "tembra.entitlements": {
        "com.apple.security.inherit": True,
        "com.apple.security.personal-information.calendars": True,
    },
    "tembra-sandboxed.entitlements": {
        "com.apple.security.app-sandbox": True,
        "com.apple.security.inherit": True,
    },
}
HOST_KEYS = {
    "com.apple.security.app-sandbox",
    "com.apple.security.personal-information.calendars",
    "NSCalendarsFullAccessUsageDescription",
    "NSCalendarsUsageDescription",
}


def xml_fragments(text):
    return re.findall(r"```xml\n(.*?)```", text, re.S)


class Packaging(unittest.TestCase):
    def setUp(self):
        self.guide = (SOURCE_DIR / "docs" / "macos.md").read_text(encoding="utf-8")

    def test_each_entitlements_file_carries_exactly_its_two_entitlements(self):
        for name, expected in ENTITLEMENTS.items():
            with (SOURCE_DIR / "packaging" / "macos" / name).open("rb") as file:
                self.assertEqual(plistlib.load(file), expected, name)

    def test_the_guide_fragments_are_property_lists_with_the_host_keys(self):
        fragments = xml_fragments(self.guide)
        self.assertEqual(len(fragments), 2)
        keys = set()
        for fragment in fragments:
            document = ('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                        + fragment + "</dict></plist>")
            keys |= set(plistlib.loads(document.encode("utf-8")))
        self.assertEqual(keys, HOST_KEYS)

    def test_the_guide_signs_with_each_file_and_names_every_key(self):
        for name, expected in ENTITLEMENTS.items():
            self.assertIn(f"--entitlements packaging/macos/{name}", self.guide)
            for key in expected:
                self.assertIn(f"`{key}`", self.guide)

    def test_the_readme_leads_to_the_guide(self):
        readme = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
        self.assertIn("docs/macos.md", readme)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source-dir", type=Path, default=SOURCE_DIR)
    arguments, rest = parser.parse_known_args()
    SOURCE_DIR = arguments.source_dir
    unittest.main(argv=[sys.argv[0]] + rest)
