#!/usr/bin/env python3
"""End-to-end cases: the real QuendRun.exe under Wine.

Each case gets a folder of its own holding the launcher, its settings file and
copies of the target program. The Windows-side starter starts the launcher with
the exact command-line bytes of the case, reads and dismisses any message box,
and reports the exit code; each target copy records how it was started. The
cases live in cases.py, one table per group.

Each case asserts what Windows does. A case that names this Wine's major
version among its known differences is reported as KNOWN when it fails here,
with the reason and the faults, and counted apart: never as a pass. The other
Wine's run of it is what shows the case itself sound.
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

import cases as table

TARGET = table.TARGET
PLANTED = table.PLANTED


def windows_path(path, codepage="cp1252"):
    """How Windows under Wine names a path of this machine, in ANSI bytes."""
    return b"Z:" + str(path).replace("/", "\\").encode(codepage)


def decode_hex(field):
    return b"" if field == "-" else bytes.fromhex(field)


class Wine:
    def __init__(self, args):
        self.loader = args.wine
        self.server = str(pathlib.Path(args.wine).with_name("wineserver"))
        self.helpers = pathlib.Path(args.helpers).resolve()
        self.launcher = pathlib.Path(args.launcher).resolve()
        self.work = pathlib.Path(args.work).resolve()
        self.windows_folder = pathlib.Path(args.prefix).resolve() / "drive_c" / "windows"
        self.dosdevices = pathlib.Path(args.prefix).resolve() / "dosdevices"
        self.scale = args.time_scale
        self.env = dict(os.environ, WINEPREFIX=str(pathlib.Path(args.prefix).resolve()), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("QUENDRUN_TARGET_SLEEP", None)
        self.texts = {}
        version = subprocess.run([self.loader, "--version"], env=self.env, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True).stdout.strip()
        match = re.match(r"wine-(\d+)\.", version)
        # The major version names the Wine in a case's known differences.
        self.major = match.group(1) if match else "?"
        self.version = version or "an unknown Wine"

    def run(self, argv, cwd, env=None, timeout=60):
        # Output goes to a file: a pipe would be held open by every process
        # the launcher starts, and reading it would wait for them all.
        with open(pathlib.Path(cwd) / "wine.log", "ab") as log:
            return subprocess.run([self.loader] + argv, cwd=cwd, env=dict(self.env, **(env or {})),
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                  timeout=timeout * self.scale)

    def start(self):
        """Keeps one server, and with it Wine's own session processes and its
        desktop, for the whole run: started again for each case, they would
        cost more than most cases. stop() ends them."""
        subprocess.run([self.server, "-p"], env=self.env, stderr=subprocess.DEVNULL)
        self.work.mkdir(parents=True, exist_ok=True)
        # A crash is reported by winedbg in the log, with no dialog waiting
        # for a click. Set on each run, so that a prefix made before has it.
        self.run(["reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                  "/d", "0", "/f"], cwd=self.work)
        with open(self.work / "hold.log", "ab") as log:
            subprocess.Popen([self.loader, str(self.helpers / "Starter.exe"), "hold"], cwd=self.work,
                             env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def stop(self):
        subprocess.run([self.server, "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run([self.server, "-w"], env=self.env, stderr=subprocess.DEVNULL)

    def system_text(self, error, env=None):
        """The system's text for an error code, formatted by the starter: its
        bytes in the ANSI code page and in UTF-16."""
        key = (error, tuple(sorted((env or {}).items())))
        if key not in self.texts:
            self.texts[key] = self.format_text(error, env)
        return self.texts[key]

    def format_text(self, error, env):
        out = self.work / "format.txt"
        self.work.mkdir(parents=True, exist_ok=True)
        self.run([str(self.helpers / "Starter.exe"), "format", str(error), windows_path(out).decode()],
                 cwd=self.work, env=env)
        return tuple(decode_hex(field) for field in out.read_text().split())


class Outcome:
    def __init__(self, report):
        self.boxes, self.alive, self.exit, self.timeout, self.refused = [], [], None, False, False
        self.wide_boxes = []
        self.states = []  # per box: visible, minimized and maximized, as "100"
        self.processes = None
        for line in report.splitlines():
            words = line.split()
            if words[0] == "refused":
                self.refused = True
            elif words[0] == "box":
                self.boxes.append((decode_hex(words[1]), decode_hex(words[2])))
                self.alive.append(words[3] == "1")
                self.wide_boxes.append((decode_hex(words[4]), decode_hex(words[5])))
                self.states.append(words[6])
            elif words[0] == "exit":
                self.exit = int(words[1])
            elif words[0] == "timeout":
                self.timeout = True
            elif words[0] == "processes":
                self.processes = int(words[1])


def read_record(path):
    record = {}
    for line in path.read_text().splitlines():
        key, value = line.split(" ", 1)
        record[key] = decode_hex(value) if key in ("commandline", "folder", "probe") else int(value)
    return record


def local(folder, name):
    """The file of a case's folder that a Windows-style relative name means."""
    return folder / name.replace("\\", "/")


def profile_reads(log):
    """(section, key) of every read of a settings file in a Wine +profile
    trace; key None for a key list. The shell's own reads of win.ini, made
    while it looks a program up, are left out."""
    reads = []
    for line in log.decode("utf-8", "replace").splitlines():
        match = re.search(r'trace:profile:GetPrivateProfileStringW L"([^"]*)",(\(null\)|L"([^"]*)"),.*,L"([^"]*)"$',
                          line)
        if match and match.group(4).lower() != "win.ini":
            reads.append((match.group(1), match.group(3)))
    return reads


def prepare_folder(wine, case, folder, expand):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    launcher = local(folder, case.launcher)
    launcher.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(wine.helpers / case.helper if case.helper else wine.launcher, launcher)
    for name, content in case.files.items():
        path = local(folder, name)
        path.parent.mkdir(parents=True, exist_ok=True)
        if content is TARGET:
            shutil.copy(wine.helpers / "Target.exe", path)
        elif content is PLANTED:
            shutil.copy(wine.helpers / "Planted.dll", path)
        else:
            path.write_bytes(content)
    if case.settings is not None:
        local(folder, case.settings_name).write_bytes(expand(case.settings))
    return launcher


# Wine now and then fails to create a process at all (error 1359); the
# launcher then reports it in its box, as it must. Such a case is run again.
REFUSED = ["Wine refused to create a process, and the launcher showed its box"]


def run_case(wine, case):
    """Runs one case; returns the list of what went wrong. The drives it maps
    stay until its targets have recorded through them."""
    try:
        return run_mapped_case(wine, case)
    finally:
        for letter in case.drives:
            (wine.dosdevices / (letter + ":")).unlink(missing_ok=True)


def run_mapped_case(wine, case):
    # Folder names without blanks, so that only a case puts blanks in a path.
    folder = wine.work / case.group / "".join(c if c.isalnum() else "-" for c in case.name)
    expand = case.expander(windows_path(folder, case.codepage))
    launcher = prepare_folder(wine, case, folder, expand)
    request = folder / "request.bin"
    request.write_bytes(windows_path(launcher, "utf-8" if case.wide else case.codepage)
                        + b"\n%d\n%d\n" % (case.show, 20000 * wine.scale)
                        + expand(case.command))
    report = folder / "report.txt"
    current = local(folder, case.cwd)
    current.mkdir(parents=True, exist_ok=True)
    env = {key: expand(value.encode()).decode() for key, value in (case.env or {}).items()}
    if "QUENDRUN_TARGET_SLEEP" in env:  # a slower machine needs a longer-lived target
        env["QUENDRUN_TARGET_SLEEP"] = str(int(env["QUENDRUN_TARGET_SLEEP"]) * wine.scale)
    if case.reads is not None:
        env["WINEDEBUG"] = "+profile"
    for name, content in case.windows_files.items():
        (wine.windows_folder / name).write_bytes(expand(content))
    for letter, target in case.drives.items():
        (wine.dosdevices / (letter + ":")).unlink(missing_ok=True)
        (wine.dosdevices / (letter + ":")).symlink_to(local(folder, target).resolve())
    try:
        mode = ["wide"] if case.wide else []
        for _ in range(case.runs):
            wine.run([str(wine.helpers / "Starter.exe")] + mode + [windows_path(request).decode(),
                                                                   windows_path(report).decode()],
                     cwd=current, env=env)
    finally:
        for name in case.windows_files:
            (wine.windows_folder / name).unlink()
    if not report.exists():
        return ["the starter wrote no report: see %s" % (current / "wine.log")]
    outcome = Outcome(report.read_text())
    if outcome.refused:
        return REFUSED
    faults = []
    if outcome.timeout:
        return ["the launcher did not end in time"]
    if outcome.exit != case.exit:
        faults.append("exit code %r, expected %r" % (outcome.exit, case.exit))

    expected_boxes = []
    if case.box is table.ANY_BOX:
        expected_boxes = outcome.boxes[:1] or [("any caption", "any text")]
    elif case.box is not None:
        caption, error = case.box
        text, wide_text = wine.system_text(error, case.env)
        if case.wide_box:
            wide_caption = expand(caption).decode(case.codepage, "surrogatepass").encode("utf-16-le", "surrogatepass")
            expected_boxes.append((wide_caption, wide_text))
        else:
            expected_boxes.append((expand(caption), text))
    boxes = outcome.wide_boxes if case.wide_box else outcome.boxes
    if boxes != expected_boxes:
        if case.wide_box:
            boxes, expected_boxes = ([tuple(part.decode("utf-16-le", "surrogatepass") for part in box) for box in side]
                                     for side in (boxes, expected_boxes))
        faults.append("boxes %r, expected %r" % (boxes, expected_boxes))
    if not all(outcome.alive):
        faults.append("the launcher ended with its box still up")
    if case.reads is not None:
        reads = profile_reads((current / "wine.log").read_bytes())
        if reads != case.reads:
            faults.append("profile reads %r, expected %r" % (reads, case.reads))

    # Every target copy that should have started has recorded; no other has.
    deadline = time.monotonic() + 10 * wine.scale
    for name in case.started:
        while not local(folder, name + ".record").exists() and time.monotonic() < deadline:
            time.sleep(0.05)
    # A target that should not start may still be starting; none can be when
    # the launcher was the only process of its job.
    if not case.started and outcome.processes != 1:
        time.sleep(0.5 * wine.scale)
    for name, content in case.files.items():
        path = local(folder, name + ".record")
        if content is not TARGET:
            continue
        if name not in case.started:
            if path.exists():
                faults.append("%s was started: %r" % (name, read_record(path)["commandline"]))
            continue
        if not path.exists():
            faults.append("%s was not started" % name)
            continue
        record = read_record(path)
        expected = dict(case.record, commandline=expand(case.started[name]))
        for key, value in expected.items():
            if isinstance(value, bytes):
                value = expand(value)
            if record.get(key) != value:
                faults.append("%s %s %r, expected %r" % (name, key, record.get(key), value))
    if case.check is not None:
        faults += case.check(folder, outcome)
    return faults


def judge(case, faults, major):
    """PASS, FAIL or KNOWN, and the lines that say why. A known difference
    of this Wine must show: once it is gone, the row is to be mended."""
    reason = case.known.get(major)
    if reason is None:
        return ("FAIL", faults) if faults else ("PASS", [])
    if faults:
        return "KNOWN", ["Wine %s's known difference: %s" % (major, reason)] + faults
    return "FAIL", ["passes under Wine %s, whose known difference it names: %s" % (major, reason)]


def pe_bits(path):
    """32 or 64, from the executable's optional header."""
    with open(path, "rb") as image:
        header = image.read(4096)
    at = int.from_bytes(header[0x3C:0x40], "little") + 24
    return 64 if header[at:at + 2] == b"\x0b\x02" else 32


def harness_parser(description):
    """A parser with the options every harness command takes."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--helpers", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--time-scale", type=int, default=1)
    return parser


def main():
    parser = harness_parser(__doc__)
    parser.add_argument("--group", action="append")
    parser.add_argument("--prepare", action="store_true", help="create the Wine prefix and stop")
    parser.add_argument("--summary", help="a file to which the table's counts are added as a line")
    args = parser.parse_args()
    wine = Wine(args)

    if args.prepare:
        wine.work.mkdir(parents=True, exist_ok=True)
        result = wine.run(["wineboot", "-i"], cwd=wine.work, timeout=600)
        # Without a window manager, Wine waits two seconds for one to take
        # each managed window down, such as every box the launcher shows.
        if result.returncode == 0:
            result = wine.run(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                               "/d", "N", "/f"], cwd=wine.work)
        wine.stop()
        return result.returncode

    selected = [case for case in table.CASES if not args.group or case.group in args.group]
    counts = {"PASS": 0, "FAIL": 0, "KNOWN": 0}
    known = []
    print("== %s, %d-bit launcher: %s" % (wine.version, pe_bits(wine.launcher), ", ".join(args.group or ["all groups"])))
    wine.start()
    try:
        for case in selected:
            started = time.monotonic()
            for tries in range(3):
                try:
                    faults = run_case(wine, case)
                except subprocess.TimeoutExpired:
                    faults = ["Wine did not end in time"]
                if faults is not REFUSED:
                    break
                print("     %s/%s: %s; run again" % (case.group, case.name, REFUSED[0]))
            verdict, notes = judge(case, faults, wine.major)
            counts[verdict] += 1
            if verdict == "KNOWN":
                known.append("      KNOWN %s/%s: %s" % (case.group, case.name, case.known[wine.major]))
            print("%-5s %s/%s (%.1f s)" % (verdict, case.group, case.name, time.monotonic() - started))
            for note in notes:
                print("      " + note)
            sys.stdout.flush()
    finally:
        wine.stop()
    summary = "%d passed, %d failed" % (counts["PASS"], counts["FAIL"])
    if counts["KNOWN"]:
        print("%d known differences of Wine %s, counted apart" % (counts["KNOWN"], wine.major))
    if args.summary:
        with open(args.summary, "a") as lines:
            lines.write("%s, %s: %s, %d known\n" % (wine.version, ", ".join(args.group or ["all groups"]), summary,
                                                    counts["KNOWN"]))
            lines.writelines(line + "\n" for line in known)
    print(summary)
    return 1 if counts["FAIL"] or not selected else 0


if __name__ == "__main__":
    sys.exit(main())
