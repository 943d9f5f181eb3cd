#!/usr/bin/env python3
"""Checks that the user's guides in two languages have the same structure.

    check_guides.py README.md README.ja.md

Each guide is the part of its file above MARKER. Both must have as many
headings at each level, and as many tables; the first column of each table
names its rows in terms that no translation changes (sections, exit codes,
error codes), so those columns must be equal, row by row.
"""
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
                tables[-1].append(line.split("|")[1].strip())
        previous = line if not fenced else ""
    return headings, tables


def main(first, second):
    (first_headings, first_tables), (second_headings, second_tables) = structure(first), structure(second)
    faults = []
    for level in sorted(set(first_headings) | set(second_headings)):
        counts = first_headings.get(level, 0), second_headings.get(level, 0)
        if counts[0] != counts[1]:
            faults.append("headings of level %d: %d in %s, %d in %s" % (level, counts[0], first, counts[1], second))
    if len(first_tables) != len(second_tables):
        faults.append("tables: %d in %s, %d in %s" % (len(first_tables), first, len(second_tables), second))
    for number, (rows, other) in enumerate(zip(first_tables, second_tables), 1):
        if rows != other:
            faults.append("table %d names its rows %s in %s, %s in %s" % (number, rows, first, other, second))
    for fault in faults:
        print("FAIL " + fault)
    print("guides: %s" % ("%d faults" % len(faults) if faults else "ok"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
