#!/usr/bin/env python3
"""Checks that the user's guides in two languages have the same structure.

    check_guides.py docs/GUIDE.md docs/GUIDE.ja.md [docs/GUIDE-EVIDENCE.md]

Each guide is the part of its file above MARKER. Both must have as many
headings at each level, and as many tables. A table's rows are named by its
first column that no translation changes: one whose every cell, in both
guides, is a number or a piece of ASCII code (a key, an exit code, an error
code, a path). That column must be the same in both, row by row. A box's
text is translated, so the table of boxes is named by its error codes.

Every picture beside the guides is shown by one of them, and every picture
that they show is there.

The evidence table, when given, names the test rows and unit tests that back
the guides' rules: each must exist.
"""
import pathlib
import re
import sys

MARKER = "<!-- end of the user's guide -->"


def structure(path):
    text = open(path, encoding="utf-8").read()
    if MARKER + "\n" not in text:
        sys.exit("%s: no line %s ends the user's guide" % (path, MARKER))
    headings, tables, fenced = {}, [], False
    previous = ""
    for line in text.split(MARKER + "\n")[0].splitlines():
        if re.match(r"^ {0,3}(```|~~~)", line):
            fenced = not fenced
        elif not fenced and re.match(r"^#{1,6}\s", line):
            level = len(line) - len(line.lstrip("#"))
            headings[level] = headings.get(level, 0) + 1
        elif not fenced and line.startswith("|"):
            if not previous.startswith("|"):
                tables.append([])  # its heading row
            elif not re.match(r"^\|[\s:|-]+$", line):
                tables[-1].append([cell.strip() for cell in line.split("|")[1:-1]])
        previous = line if not fenced else ""
    return headings, tables


UNTRANSLATED = re.compile(r"-?\d+|`[ -~]+`")


def naming_column(rows, other):
    """The first column whose cells are untranslated in both tables."""
    width = min([len(row) for row in rows + other] or [0])
    for column in range(width):
        if all(UNTRANSLATED.fullmatch(row[column]) for row in rows + other):
            return column
    return None


ROOT = pathlib.Path(__file__).resolve().parents[2]


def missing_evidence(path):
    """The rows and unit tests that the evidence table names but that don't
    exist."""
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    import cases
    rows = {"%s/%s" % (case.group, case.name) for case in cases.CASES}
    groups = {case.group for case in cases.CASES}
    units = set()
    for source in (ROOT / "tests" / "unit").glob("*.cpp"):
        units |= {"%s.%s" % match for match in re.findall(r"^TEST\((\w+), (\w+)\)", source.read_text(), re.M)}
    faults = []
    for name in re.findall(r"`([^`]+)`", open(path, encoding="utf-8").read()):
        group = name.split("/", 1)[0]
        if group in groups and "/" in name and not name.endswith("…") and name not in rows:
            faults.append("%s names the row %r, which does not exist" % (path, name))
        elif re.fullmatch(r"[A-Z]\w+\.[A-Z]\w+", name) and name not in units:
            faults.append("%s names the unit test %r, which does not exist" % (path, name))
    return faults


def picture_faults(guides):
    """Every picture in the guides' folder is shown by a guide, and every
    picture that a guide shows is there."""
    folder = pathlib.Path(guides[0]).resolve().parent
    shown = set()
    for guide in guides:
        for name in re.findall(r"!\[[^\]]*\]\(([^)\s]+)\)", open(guide, encoding="utf-8").read()):
            shown.add(name)
    pictures = {path.name for path in folder.glob("*.png")}
    faults = ["%s is shown by no guide" % (folder / name) for name in sorted(pictures - shown)]
    faults += ["a guide shows %s, which is not there" % (folder / name)
               for name in sorted(shown - pictures)]
    return faults


def main(first, second, evidence=None):
    (first_headings, first_tables), (second_headings, second_tables) = structure(first), structure(second)
    faults = []
    for level in sorted(set(first_headings) | set(second_headings)):
        counts = first_headings.get(level, 0), second_headings.get(level, 0)
        if counts[0] != counts[1]:
            faults.append("headings of level %d: %d in %s, %d in %s" % (level, counts[0], first, counts[1], second))
    if len(first_tables) != len(second_tables):
        faults.append("tables: %d in %s, %d in %s" % (len(first_tables), first, len(second_tables), second))
    for number, (rows, other) in enumerate(zip(first_tables, second_tables), 1):
        column = naming_column(rows, other)
        if column is None:
            faults.append("table %d has no column that names its rows alike in both guides" % number)
            continue
        names, other_names = [row[column] for row in rows], [row[column] for row in other]
        if names != other_names:
            faults.append("table %d names its rows %s in %s, %s in %s" % (number, names, first, other_names, second))
    faults += picture_faults([first, second])
    if evidence:
        faults += missing_evidence(evidence)
    for fault in faults:
        print("FAIL " + fault)
    print("guides: %s" % ("%d faults" % len(faults) if faults else "ok"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
