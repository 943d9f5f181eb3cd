"""The end-to-end cases, one table per group.

In command lines, settings and expectations, {dir} stands for the case's
folder as Windows names it (Z:\\...). Every case folder holds the launcher as
QuendRun.exe and, unless a case says otherwise, a target copy as Quend.exe, the
default program name. A target copy that is not listed under `started` must not
start.
"""
import time
from dataclasses import dataclass, field

TARGET = object()  # a copy of the recording target program

LAUNCHER = b'"{dir}\\QuendRun.exe"'
QUEND = b"{dir}\\Quend.exe"
SETTINGS_NAME = "QuendRun.ini"

ERROR_FILE_NOT_FOUND = 2
ERROR_BAD_EXE_FORMAT = 193
ERROR_FILENAME_EXCED_RANGE = 206

STARTF_USESHOWWINDOW_FORCEONFEEDBACK = 0x41
SW_SHOWNORMAL = 1
NORMAL_PRIORITY_CLASS = 0x20


@dataclass
class Case:
    group: str
    name: str
    command: bytes
    started: dict = field(default_factory=dict)  # target copy -> its expected command line
    settings: bytes = None                       # the settings file beside the launcher
    settings_name: str = SETTINGS_NAME
    files: dict = field(default_factory=lambda: {"Quend.exe": TARGET})
    launcher: str = "QuendRun.exe"
    exit: int = 0
    box: tuple = None                            # (caption, error code of its text)
    show: int = -1                               # the launcher's own show command, -1 for none
    env: dict = None
    record: dict = field(default_factory=dict)   # further fields the target must record
    check: object = None                         # check(folder, outcome) -> faults

    def expander(self, folder):
        return lambda text: text.replace(b"{dir}", folder)


def ini(*sections):
    """A settings file from (section, [lines]) pairs."""
    text = b""
    for name, lines in sections:
        text += b"[" + name + b"]\r\n" + b"".join(line + b"\r\n" for line in lines)
    return text


def executable(*lines):
    return (b"Executable", list(lines))


def wild_card(*lines):
    return (b"Wild Card", list(lines))


def started_quend(arguments):
    return {"Quend.exe": QUEND + b" " + arguments}


def not_waited_for(folder, outcome):
    """The target still runs after the launcher has ended, and ends later."""
    done = folder / "Quend.exe.done"
    if done.exists():
        return ["the target had ended before the launcher did"]
    for _ in range(200):
        if done.exists():
            return []
        time.sleep(0.05)
    return ["the target never ended"]


START = [
    Case("start", "no argument", LAUNCHER),
    Case("start", "only blanks and control bytes", LAUNCHER + b" \t\x01\x1f "),
    Case("start", "unclosed quote", b'"{dir}\\QuendRun.exe notes'),
    Case("start", "default table", LAUNCHER + b" notes", started_quend(b",,,,note*"),
         record={"flags": STARTF_USESHOWWINDOW_FORCEONFEEDBACK, "show": SW_SHOWNORMAL,
                 "priority": NORMAL_PRIORITY_CLASS}),
    Case("start", "shown normal though started hidden", LAUNCHER + b" a.txt",
         started_quend(b",,,,a.txt"), show=0,
         record={"flags": STARTF_USESHOWWINDOW_FORCEONFEEDBACK, "show": SW_SHOWNORMAL}),
    Case("start", "unquoted launcher", b"{dir}\\QuendRun.exe a.txt", started_quend(b",,,,a.txt")),
    Case("start", "quoted argument keeps its quotes", LAUNCHER + b' "C:\\My Files\\a.txt"',
         started_quend(b',,,,"C:\\My Files\\a.txt"')),
    Case("start", "trailing blank reaches the program", LAUNCHER + b" notes ",
         started_quend(b",,,,notes ")),
    Case("start", "launcher does not wait", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"),
         env={"QUENDRUN_TARGET_SLEEP": "2000"}, check=not_waited_for),
]

SETTINGS = [
    Case("settings", "options and a table", LAUNCHER + b" report.txt",
         {"Tools\\Viewer.exe": b"{dir}\\Tools\\Viewer.exe /view:report.log"},
         settings=ini(executable(b"FileName={dir}\\Tools\\Viewer.exe", b"Options=/view:"),
                      wild_card(b".txt=.log", b"t=T")),
         files={"Quend.exe": TARGET, "Tools\\Viewer.exe": TARGET}),
    Case("settings", "empty options", LAUNCHER + b" notes", started_quend(b"note*"),
         settings=ini(executable(b"Options="))),
    Case("settings", "section without keys keeps the default", LAUNCHER + b" notes",
         started_quend(b",,,,note*"), settings=ini(wild_card())),
    Case("settings", "file named after a cut token is not read", b'"{dir}\\Program Files\\QuendRun.exe" notes',
         {"Program Files\\Quend.exe": b"{dir}\\Program Files\\Quend.exe ,,,,note*"},
         launcher="Program Files\\QuendRun.exe", settings=ini(executable(b"Options=wrong")),
         settings_name="Program Files\\QuendRun.ini", files={"Program Files\\Quend.exe": TARGET}),
]

MAPPING = [
    Case("mapping", "first listed match wins", LAUNCHER + b" a.txt", started_quend(b",,,,a.txx"),
         settings=ini(wild_card(b"t=x", b".txt=y"))),
    Case("mapping", "matched empty value ends the scan", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"),
         settings=ini(wild_card(b".txt=", b"t=x"))),
    Case("mapping", "name as long as the argument", LAUNCHER + b" s", started_quend(b",,,,s")),
    Case("mapping", "case matters", LAUNCHER + b" A.TXT", started_quend(b",,,,A.TXT"),
         settings=ini(wild_card(b".txt=.log"))),
    # 36 names take 252 bytes of the 260-byte key list; the reader cuts the
    # next one to "tail-l" to close the list with two NULs.
    Case("mapping", "cut name without a key of its own", LAUNCHER + b" x.tail-l",
         started_quend(b",,,,x.*"),
         settings=ini(wild_card(*[b"name%02d=no" % n for n in range(36)], b"tail-long-name=no"))),
]

FAILURE = [
    Case("failure", "program not found", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName=missing.exe")), box=(b"missing.exe", ERROR_FILE_NOT_FOUND)),
    Case("failure", "program found but not startable", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName={dir}\\bad.exe")),
         files={"Quend.exe": TARGET, "bad.exe": b"not a program\r\n"},
         box=(b"{dir}\\bad.exe ,,,,a.txt", ERROR_BAD_EXE_FORMAT)),
]

LONG = b"a" * 1018 + b".txt"  # 1022 bytes

MENDS = [
    Case("mends", "decoy at a prefix of the path is never started", LAUNCHER + b" a.txt",
         {"My Tools\\Quend.exe": b"{dir}\\My Tools\\Quend.exe ,,,,a.txt"},
         settings=ini(executable(b"FileName={dir}\\My Tools\\Quend.exe")),
         files={"My Tools\\Quend.exe": TARGET, "My.exe": TARGET}),
    Case("mends", "argument of 1023 bytes", LAUNCHER + b" " + LONG + b"x",
         started_quend(b",,,," + LONG + b"x")),
    Case("mends", "argument of 1024 bytes", LAUNCHER + b" " + LONG + b"xy", exit=-1,
         box=(b"Quend.exe", ERROR_FILENAME_EXCED_RANGE)),
    Case("mends", "mapping lands on 1023 bytes", LAUNCHER + b" " + LONG, started_quend(b",,,," + LONG[:-4] + b".text"),
         settings=ini(wild_card(b".txt=.text"))),
    Case("mends", "mapping grows past 1023 bytes", LAUNCHER + b" " + LONG, exit=-1,
         settings=ini(executable(b"FileName=Quend.exe"), wild_card(b".txt=.texts")),
         box=(b"Quend.exe", ERROR_FILENAME_EXCED_RANGE)),
    Case("mends", "empty program token reads no settings", b" notes", started_quend(b",,,,note*"),
         settings=ini(executable(b"Options=wrong"))),
]

CASES = START + SETTINGS + MAPPING + FAILURE + MENDS
