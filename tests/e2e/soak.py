#!/usr/bin/env python3
"""Soak: many launches in a row through the real QuendRun.exe under Wine.

The Windows-side driver (helpers/Soak.cpp) starts the launcher COUNT times,
each with its own argument, and checks the command line that the target
recorded for each; this prints its totals and fails unless every launch ended
with 0 and was recorded unaltered. A launch that Wine refused to start, and
that the launcher reported as it must, is made again; the number of those is
printed as "refused" and may not pass one in a hundred.
"""
import shutil
import subprocess
import sys
import time

from run import Wine, harness_parser, windows_path


def main():
    parser = harness_parser(__doc__)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--slots", type=int, default=4)
    args = parser.parse_args()
    wine = Wine(args)

    folder = wine.work / "soak"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    report = folder / "report.txt"
    began = time.monotonic()
    try:
        wine.run([str(wine.helpers / "Soak.exe"), windows_path(wine.launcher).decode(),
                  windows_path(wine.helpers / "Target.exe").decode(), windows_path(folder / "slots").decode(),
                  str(args.count), str(args.slots), windows_path(report).decode()],
                 cwd=folder, timeout=600)
    except subprocess.TimeoutExpired:
        print("the soak did not end in time")
        return 1
    finally:
        wine.stop()
    if not report.exists():
        print("the soak driver wrote no report: see %s" % (folder / "wine.log"))
        return 1
    # Notes quote the launcher's boxes, whose bytes are the argument's.
    text = report.read_bytes().decode("ascii", "backslashreplace")
    print(text, end="")
    totals = dict((line.split()[0], int(line.split()[1])) for line in text.splitlines()
                  if line.split()[0] in ("launched", "recorded", "mismatched", "failed", "refused"))
    print("%d launches in %.1f s" % (args.count, time.monotonic() - began))
    refused = totals.pop("refused", None)
    expected = {"launched": args.count, "recorded": args.count, "mismatched": 0, "failed": 0}
    return 0 if totals == expected and refused is not None and refused * 100 <= args.count else 1


if __name__ == "__main__":
    sys.exit(main())
