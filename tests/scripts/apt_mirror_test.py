#!/usr/bin/env python3
"""scripts/apt-mirror on apt source folders made for each case."""
import pathlib
import subprocess
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "apt-mirror"

DEB822_HOST = """Types: deb
# http://snapshot.example/archive/debian/20250520T000000Z
URIs: http://main.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://main.example/debian-security
Suites: bookworm-security
Components: main
"""

# (name, {file under the apt folder: content}, suite, expected mirror)
CASES = [
    ("deb822 stanza with a comment line", {"sources.list.d/debian.sources": DEB822_HOST},
     "bookworm", "http://main.example/debian"),
    ("deb822: a suite matches whole, not as a prefix", {"sources.list.d/debian.sources": DEB822_HOST},
     "bookworm-security", "http://main.example/debian-security"),
    ("deb822: bookworm-updates does not serve bookworm",
     {"sources.list.d/a.sources": "Types: deb\nURIs: http://upd.example/debian\nSuites: bookworm-updates\n\n"
                                  "Types: deb\nURIs: http://main.example/debian\nSuites: bookworm\n"},
     "bookworm", "http://main.example/debian"),
    ("deb822: only deb-src serves it",
     {"sources.list.d/a.sources": "Types: deb-src\nURIs: http://src.example/debian\nSuites: bookworm\n"},
     "bookworm", ""),
    ("deb822: both types in one stanza",
     {"sources.list.d/a.sources": "Types: deb-src deb\nURIs: http://both.example/debian\nSuites: bookworm\n"},
     "bookworm", "http://both.example/debian"),
    ("deb822: a disabled stanza is skipped",
     {"sources.list.d/a.sources": "Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nEnabled: no\n\n"
                                  "Types: deb\nURIs: http://on.example/debian\nSuites: bookworm\n"},
     "bookworm", "http://on.example/debian"),
    ("deb822: the first of several URIs",
     {"sources.list.d/a.sources": "Types: deb\nURIs: http://one.example/debian http://two.example/debian\n"
                                  "Suites: bookworm\n"},
     "bookworm", "http://one.example/debian"),
    ("one-line source with options",
     {"sources.list": "deb [arch=amd64 signed-by=/k.gpg] http://opt.example/debian bookworm main\n"},
     "bookworm", "http://opt.example/debian"),
    ("one-line: comments, deb-src and other suites are skipped",
     {"sources.list": "# deb http://comment.example/debian bookworm main\n"
                      "deb-src http://src.example/debian bookworm main\n"
                      "deb http://updates.example/debian bookworm-updates main\n"
                      "deb http://line.example/debian bookworm main contrib\n"},
     "bookworm", "http://line.example/debian"),
    ("sources.list before sources.list.d",
     {"sources.list": "deb http://list.example/debian bookworm main\n",
      "sources.list.d/debian.sources": DEB822_HOST},
     "bookworm", "http://list.example/debian"),
    ("no source serves the suite", {"sources.list.d/debian.sources": DEB822_HOST}, "trixie", ""),
    ("no sources at all", {}, "bookworm", ""),
]


class AptMirror(unittest.TestCase):
    def test_cases(self):
        for name, files, suite, expected in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as apt:
                for path, content in files.items():
                    target = pathlib.Path(apt) / path
                    target.parent.mkdir(parents=True, exist_ok=True)
                    target.write_text(content)
                out = subprocess.run(["sh", str(SCRIPT), suite, apt], capture_output=True, text=True, check=True)
                self.assertEqual(out.stdout.strip(), expected)


if __name__ == "__main__":
    unittest.main()
