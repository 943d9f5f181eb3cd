#!/usr/bin/env python3
"""scripts/readme_txt.py on the Markdown a README uses."""
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import readme_txt  # noqa: E402

END = "\n" + readme_txt.MARKER + "\nfor developers\n"

# (name, Markdown of the user's guide, expected text with LF line ends)
CASES = [
    ("headings underlined by level", "# Top\n\n## Part\n\n### Sub part\n",
     "===\nTop\n===\n\nPart\n====\n\nSub part\n--------\n"),
    ("code marks, emphasis and escapes dropped; code spans kept as written",
     "Run `a *b* c\\d` with **care**, *now*, file_name and \\*.\n",
     "Run a *b* c\\d with care, now, file_name and *.\n"),
    ("links written out, images dropped", "See [docs](https://d.example/x) ![box](box.png)here.\n",
     "See docs (https://d.example/x) here.\n"),
    ("a code span is not broken at its blanks", ("word " * 14) + "`C:\\My Files\\a.txt` end\n",
     ("word " * 14).strip() + "\nC:\\My Files\\a.txt end\n"),
    ("paragraph rewrapped at 79 columns", ("word " * 20).strip() + "\n",
     ("word " * 16).strip() + "\n" + ("word " * 4).strip() + "\n"),
    ("fenced code indented, left as it is", "```ini\n[A]\n*k*=`v`\n```\n", "    [A]\n    *k*=`v`\n"),
    ("list items with continuation lines and a nested list",
     "1. one\n   more\n2. two\n   - inner\n", "1. one more\n2. two\n   - inner\n"),
    ("table in columns, right alignment kept", "| a | count |\n|---|---:|\n| x | 5 |\n",
     "a  count\n-  -----\nx      5\n"),
    ("table too wide for columns as heading: cell lines",
     "| what | why |\n|---|---|\n| %s | b |\n" % ("x " * 40).strip(),
     "what: %s\n    %s\nwhy: b\n" % (("x " * 37).strip(), ("x " * 3).strip())),
    ("typographic punctuation made ASCII", "\u201cA\u201d \u2014 it\u2019s\u2026\n", "\"A\" -- it's...\n"),
]


class Conversion(unittest.TestCase):
    def test_table(self):
        for name, markdown, expected in CASES:
            with self.subTest(name):
                got = readme_txt.convert(markdown + END)
                self.assertEqual(got, expected.replace("\n", "\r\n").encode("ascii"))

    def test_refusals(self):
        for name, markdown in [("no marker", "text\n"), ("letter without an ASCII form", "caf\u00e9\n" + END)]:
            with self.subTest(name):
                with self.assertRaises(readme_txt.Failure):
                    readme_txt.convert(markdown)


if __name__ == "__main__":
    unittest.main()
