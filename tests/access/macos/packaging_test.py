"""The macOS packaging: the entitlements file tembra is signed with, and the property-list
fragments docs/macos.md tells a host to use, read as property lists."""

import argparse
import plistlib
import re
import sys
import unittest
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[3]

HELPER_ENTITLEMENTS = {
    "com.apple.security.inherit": True,
    "com.apple.security.personal-information.calendars": True,
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

    def test_the_helper_carries_exactly_its_two_entitlements(self):
        path = SOURCE_DIR / "packaging" / "macos" / "tembra.entitlements"
        with path.open("rb") as file:
            self.assertEqual(plistlib.load(file), HELPER_ENTITLEMENTS)

    def test_the_guide_fragments_are_property_lists_with_the_host_keys(self):
        fragments = xml_fragments(self.guide)
        self.assertEqual(len(fragments), 2)
        keys = set()
        for fragment in fragments:
            document = ('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                        + fragment + "</dict></plist>")
            keys |= set(plistlib.loads(document.encode("utf-8")))
        self.assertEqual(keys, HOST_KEYS)

    def test_the_guide_names_the_entitlements_file_and_every_key(self):
        self.assertIn("packaging/macos/tembra.entitlements", self.guide)
        for key in HELPER_ENTITLEMENTS:
            self.assertIn(f"`{key}`", self.guide)
        self.assertIn("--entitlements packaging/macos/tembra.entitlements", self.guide)

    def test_the_readme_leads_to_the_guide(self):
        readme = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
        self.assertIn("docs/macos.md", readme)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source-dir", type=Path, default=SOURCE_DIR)
    arguments, rest = parser.parse_known_args()
    SOURCE_DIR = arguments.source_dir
    unittest.main(argv=[sys.argv[0]] + rest)
