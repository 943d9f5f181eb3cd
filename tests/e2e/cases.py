"""The end-to-end cases, one table per group.

In command lines, settings and expectations, {dir} stands for the case's
folder as Windows names it (Z:\\...). Every case folder holds the launcher as
QuendRun.exe and, unless a case says otherwise, a target copy as Quend.exe, the
default program name. A target copy that is not listed under `started` must not
start.
"""
import pathlib
import re
import struct
import time
from dataclasses import dataclass, field

TARGET = object()  # a copy of the recording target program
ANY_BOX = object()  # one box, whatever its caption and text
PLANTED = object()  # a DLL that leaves "<its path>.loaded" when loaded

LAUNCHER = b'"{dir}\\QuendRun.exe"'
QUEND = b"{dir}\\Quend.exe"
SETTINGS_NAME = "QuendRun.ini"

ERROR_FILE_NOT_FOUND = 2
ERROR_BAD_EXE_FORMAT = 193
ERROR_FILENAME_EXCED_RANGE = 206
ERROR_BAD_ARGUMENTS = 160
ERROR_BAD_PATHNAME = 161
ERROR_NO_UNICODE_TRANSLATION = 1113
ERROR_NO_ASSOCIATION = 1155

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
    box: tuple = None                            # (caption, error code of its text), or ANY_BOX
    show: int = -1                               # the launcher's own show command, -1 for none
    env: dict = None
    record: dict = field(default_factory=dict)   # further fields the target must record
    check: object = None                         # check(folder, outcome) -> faults
    cwd: str = "."                               # the launcher's current folder
    codepage: str = "cp1252"                     # the ANSI code page paths are written in
    windows_files: dict = field(default_factory=dict)  # files put in the Windows folder
    reads: list = None                           # the profile reads made, in order
    wide: bool = False                           # started in UTF-16 from UTF-8 bytes, as Explorer does
    wide_box: bool = False                       # the box read in UTF-16; its caption given in `codepage`
    helper: str = None                           # a helper started in the launcher's place
    runs: int = 1                                # how many times it is started
    known: dict = field(default_factory=dict)    # Wine major version -> how that Wine departs from Windows
    drives: dict = field(default_factory=dict)   # drive letter -> the case's folder it stands for

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
    for _ in range(1200):
        if done.exists():
            return []
        time.sleep(0.05)
    return ["the target never ended"]


JAPANESE = {"LC_ALL": "ja_JP.UTF-8"}  # Wine's ANSI code page becomes 932


def show_case(show):
    return Case("start", "shown normal though started with show command %d" % show, LAUNCHER + b" a.txt",
                started_quend(b",,,,a.txt"), show=show,
                record={"flags": STARTF_USESHOWWINDOW_FORCEONFEEDBACK, "show": SW_SHOWNORMAL})


ARGUMENT = [
    Case("argument", "no argument", LAUNCHER),
    Case("argument", "only blanks and control bytes", LAUNCHER + b" \t\x01\x1f "),
    Case("argument", "unclosed quote", b'"{dir}\\QuendRun.exe notes'),
    Case("argument", "unquoted launcher", b"{dir}\\QuendRun.exe a.txt", started_quend(b",,,,a.txt")),
    Case("argument", "control bytes skipped before it", LAUNCHER + b"\t\x01\x1f notes",
         started_quend(b",,,,note*")),
    Case("argument", "quoted argument keeps its quotes", LAUNCHER + b' "C:\\My Files\\a.txt"',
         started_quend(b',,,,"C:\\My Files\\a.txt"')),
    Case("argument", "inner blanks and quotes kept", LAUNCHER + b' a  "b c" d',
         started_quend(b',,,,a  "b c" d')),
    Case("argument", "trailing blank reaches the program", LAUNCHER + b" notes ",
         started_quend(b",,,,notes ")),
    # A tab ends the launcher's name, but only a blank ends the program token.
    Case("argument", "tab after an unquoted name", b"{dir}\\QuendRun.exe\tnotes", started_quend(b",,,,note*"),
         settings=ini(executable(b"Options=wrong"))),
    Case("argument", "bytes above 0x7F in an unquoted name", b"{dir}\\Qu\xe9nd.exe notes",
         started_quend(b"/hi:note*"), launcher="Qu\xe9nd.exe", settings_name="Qu\xe9nd.ini",
         settings=ini(executable(b"Options=/hi:"))),
]

# Windows' shell looks a bare program name up in the current folder, the system
# folders and the folders of PATH, and not in the launcher's own folder: Wine's
# conformance test dlls/shell32/tests/shlexec.c, test_find_executable, "Make
# sure FindExecutable uses the correct current directory" (not todo_wine, so
# Windows passes it), finds no file of the test's own name from another
# current folder.
OWN_FOLDER = {"8": "its shell lookup searches the launcher's own folder first, as its SearchPathW's default order"
                    " does (dlls/shell32/shlexec.c, SHELL_FindExecutable)"}

TOKEN = [
    Case("token", "full path reads the file beside it", LAUNCHER + b" notes", started_quend(b"/o:note*"),
         settings=ini(executable(b"Options=/o:"))),
    # The box's caption is the name the settings file gave, or the default:
    # a program beside the launcher is not found from the case's folder.
    Case("token", "quoted path with a blank reads the cut name", b'"{dir}\\Program Files\\QuendRun.exe" notes',
         exit=-1, box=(b"Cut.exe", ERROR_FILE_NOT_FOUND), known=OWN_FOLDER,
         launcher="Program Files\\QuendRun.exe", settings_name="Progini",
         settings=ini(executable(b"FileName=Cut.exe")), files={"Program Files\\Cut.exe": TARGET}),
    Case("token", "file named after the whole path is not read", b'"{dir}\\Program Files\\QuendRun.exe" notes',
         exit=-1, box=(b"Quend.exe", ERROR_FILE_NOT_FOUND), known=OWN_FOLDER,
         launcher="Program Files\\QuendRun.exe", settings=ini(executable(b"FileName=Wrong.exe")),
         settings_name="Program Files\\QuendRun.ini", files={"Program Files\\Quend.exe": TARGET}),
    Case("token", "bare name is looked up in the Windows folder", b"QuendRun notes",
         started_quend(b"/bare:note*"), windows_files={"Quendini": ini(executable(b"Options=/bare:"))}),
    Case("token", "glued quoted path reads the glued name", LAUNCHER + b"a.txt", started_quend(b"/glued:a.txt"),
         settings_name="QuendRun.exea.ini", settings=ini(executable(b"Options=/glued:"))),
    Case("token", "empty token reads no settings", b" notes", started_quend(b",,,,note*"),
         settings=ini(executable(b"Options=wrong"))),
]

# The user's guides' recipes, each a whole settings file as the guide gives
# it, with the case's folder in place of the program's.
ENDINGS_RECIPE = ini(executable(b"FileName={dir}\\Tools\\Quend\\Quend.exe", b"Options=,,,,"),
                     wild_card(b'.text"=.txt"', b".text=.txt", b's"=*"', b"s=*"))
ENDINGS_FILES = {"Quend.exe": TARGET, "Tools\\Quend\\Quend.exe": TARGET}
SECOND_RECIPE = ini(executable(b"FileName={dir}\\Tools\\Viewer\\Viewer.exe", b"Options="), wild_card(b"s="))
JAPANESE_VIEWER = "ツール\\ビューア\\Viewer.exe"


def japanese_recipe(encoding):
    return ini(executable(b"FileName={dir}\\" + JAPANESE_VIEWER.encode(encoding), b"Options="), wild_card(b"s="))


def guide_endings(argument, handed_on):
    return Case("settings", "guide's endings: %s" % argument.decode(), LAUNCHER + b" " + argument,
                {"Tools\\Quend\\Quend.exe": b"{dir}\\Tools\\Quend\\Quend.exe ,,,," + handed_on},
                settings=ENDINGS_RECIPE, files=ENDINGS_FILES)


# The settings file that the release package holds.
SAMPLE_SETTINGS = (pathlib.Path(__file__).resolve().parents[2] / "resources" / "QuendRun.ini").read_bytes()

SETTINGS = [
    Case("settings", "options and a table", LAUNCHER + b" report.txt",
         {"Tools\\Viewer.exe": b"{dir}\\Tools\\Viewer.exe /view:report.log"},
         settings=ini(executable(b"FileName={dir}\\Tools\\Viewer.exe", b"Options=/view:"),
                      wild_card(b".txt=.log", b"t=T")),
         files={"Quend.exe": TARGET, "Tools\\Viewer.exe": TARGET}),
    Case("settings", "section without keys keeps the default", LAUNCHER + b" notes",
         started_quend(b",,,,note*"), settings=ini(wild_card())),
    Case("settings", "empty options", LAUNCHER + b" notes", started_quend(b"note*"),
         settings=ini(executable(b"Options="))),
    # The profile reader drops the blanks and the quotes around a value.
    Case("settings", "quoted value with blanks", LAUNCHER + b" notes", started_quend(b"/a b note*"),
         settings=ini(executable(b'Options=  "/a b "  '))),
    Case("settings", "quotes inside a value", LAUNCHER + b" notes", started_quend(b'/t:"x y"note*'),
         settings=ini(executable(b'Options=/t:"x y" '))),
    # The user's guide's example: Notepad given the argument as it is.
    Case("settings", "guide's settings for Notepad", LAUNCHER + b" C:\\Users\\me\\Documents\\style.css",
         {"Windows\\notepad.exe": b"{dir}\\Windows\\notepad.exe C:\\Users\\me\\Documents\\style.css"},
         settings=ini(executable(b"FileName={dir}\\Windows\\notepad.exe", b"Options="), wild_card(b"s=")),
         files={"Quend.exe": TARGET, "Windows\\notepad.exe": TARGET}),
    # The guide's "Try it": Notepad's path pasted with its quotes, the endings recipe's four lines.
    Case("settings", "guide's try-it with Notepad", LAUNCHER + b" C:\\Users\\me\\Desktop\\notes",
         {"Windows\\notepad.exe": b"{dir}\\Windows\\notepad.exe C:\\Users\\me\\Desktop\\note*"},
         settings=ini(executable(b'FileName="{dir}\\Windows\\notepad.exe"', b"Options="),
                      wild_card(b'.text"=.txt"', b".text=.txt", b's"=*"', b"s=*")),
         files={"Quend.exe": TARGET, "Windows\\notepad.exe": TARGET}),
    Case("settings", "guide's try-it with a quoted path", LAUNCHER + b' "C:\\Users\\me\\Desktop\\My notes\\notes"',
         {"Windows\\notepad.exe": b'{dir}\\Windows\\notepad.exe "C:\\Users\\me\\Desktop\\My notes\\note*"'},
         settings=ini(executable(b'FileName="{dir}\\Windows\\notepad.exe"', b"Options="),
                      wild_card(b'.text"=.txt"', b".text=.txt", b's"=*"', b"s=*")),
         files={"Quend.exe": TARGET, "Windows\\notepad.exe": TARGET}),
    # The guide's print recipe: Notepad's print command, the quoted options keep their space.
    Case("settings", "guide's print recipe", LAUNCHER + b" C:\\Users\\me\\Documents\\notes.txt",
         {"Windows\\notepad.exe": b"{dir}\\Windows\\notepad.exe /p C:\\Users\\me\\Documents\\notes.txt"},
         settings=ini(executable(b"FileName={dir}\\Windows\\notepad.exe", b'Options="/p "'), wild_card(b"s=")),
         files={"Quend.exe": TARGET, "Windows\\notepad.exe": TARGET}),
    guide_endings(b"notes", b"note*"),
    guide_endings(b'"C:\\My Files\\report.text"', b'"C:\\My Files\\report.txt"'),
    guide_endings(b"report.text", b"report.txt"),
    # A copy reads the settings of its own name, not those beside it.
    Case("settings", "guide's second program", b'"{dir}\\ViewRun.exe" "C:\\My Files\\notes"',
         {"Tools\\Viewer\\Viewer.exe": b'{dir}\\Tools\\Viewer\\Viewer.exe "C:\\My Files\\notes"'},
         launcher="ViewRun.exe", settings_name="ViewRun.ini", settings=SECOND_RECIPE,
         files={"Quend.exe": TARGET, "Tools\\Viewer\\Viewer.exe": TARGET,
                "QuendRun.ini": ini(executable(b"Options=wrong"))}),
    Case("settings", "packaged sample settings give the defaults", LAUNCHER + b" notes",
         started_quend(b",,,,note*"), settings=SAMPLE_SETTINGS),
    Case("settings", "program path with blanks", LAUNCHER + b" notes",
         {"My Tools\\Quend.exe": b'"{dir}\\My Tools\\Quend.exe" ,,,,note*'},
         settings=ini(executable(b"FileName={dir}\\My Tools\\Quend.exe")),
         files={"My Tools\\Quend.exe": TARGET}),
]

MAPPING = [
    Case("mapping", "first listed match wins", LAUNCHER + b" a.txt", started_quend(b",,,,a.txx"),
         settings=ini(wild_card(b"t=x", b".txt=y"))),
    Case("mapping", "a later name matches", LAUNCHER + b" a.txt", started_quend(b",,,,a.log"),
         settings=ini(wild_card(b".doc=d", b".txt=.log"))),
    Case("mapping", "matched empty value ends the scan", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"),
         settings=ini(wild_card(b".txt=", b"t=x"))),
    Case("mapping", "name as long as the argument", LAUNCHER + b" s", started_quend(b",,,,s")),
    Case("mapping", "longer value", LAUNCHER + b" a.md", started_quend(b",,,,a.markdown"),
         settings=ini(wild_card(b".md=.markdown"))),
    Case("mapping", "shorter value", LAUNCHER + b" i.html", started_quend(b",,,,i.h"),
         settings=ini(wild_card(b".html=.h"))),
    Case("mapping", "argument ending in a double quote", LAUNCHER + b' "my notes"',
         started_quend(b',,,,"my notes*"'), settings=ini(wild_card(b's=*', b'"=*"'))),
    # The user's guide's endings for an argument that Explorer quoted.
    Case("mapping", "guide's table for a quoted path", LAUNCHER + b' "C:\\My Files\\notes"',
         {"Tools\\Quend\\Quend.exe": b'{dir}\\Tools\\Quend\\Quend.exe ,,,,"C:\\My Files\\note*"'},
         settings=ENDINGS_RECIPE, files=ENDINGS_FILES),
    Case("mapping", "case matters", LAUNCHER + b" A.TXT", started_quend(b",,,,A.TXT"),
         settings=ini(wild_card(b".txt=.log"))),
    # Names match with case, but the reader finds a value without it: the
    # first line of the name in any case.
    Case("mapping", "value read from the first key of the name in any case", LAUNCHER + b" x.txt",
         started_quend(b",,,,xa"), settings=ini(wild_card(b".TXT=a", b".txt=b"))),
    Case("mapping", "asterisk is a plain byte", LAUNCHER + b" a*", started_quend(b",,,,ax"),
         settings=ini(wild_card(b"*=x"))),
    Case("mapping", "question mark is a plain byte", LAUNCHER + b" ab", started_quend(b",,,,ab"),
         settings=ini(wild_card(b"?=x"))),
    # 36 names take 252 bytes of the 260-byte key list; the reader cuts the
    # next one to "tail-l" to close the list with two NULs.
    Case("mapping", "cut name without a key of its own", LAUNCHER + b" x.tail-l",
         started_quend(b",,,,x.*"),
         settings=ini(wild_card(*[b"name%02d=no" % n for n in range(36)], b"tail-long-name=no"))),
    Case("mapping", "names past the key list are not tried", LAUNCHER + b" x.zz", started_quend(b",,,,x.zz"),
         settings=ini(wild_card(*[b"name%02d=no" % n for n in range(37)], b"zz=no"))),
]

JAPANESE_CASES = [
    Case("cp932", "Japanese name and ending", LAUNCHER + " 月報資料".encode("cp932"),
         started_quend(b",,,," + "月報書類".encode("cp932")),
         settings=ini(wild_card("資料=書類".encode("cp932"))), env=JAPANESE, codepage="cp932"),
    Case("cp932", "final s after a double-byte character", LAUNCHER + " ピs".encode("cp932"),
         started_quend(b",,,," + "ピ*".encode("cp932")), env=JAPANESE, codepage="cp932"),
    # The second bytes of these characters are "s" and the backslash.
    Case("cp932", "character ending in the byte of s stays whole", LAUNCHER + " aピ".encode("cp932"),
         started_quend(b",,,,a" + "ピ".encode("cp932")), env=JAPANESE, codepage="cp932"),
    Case("cp932", "character ending in a backslash byte stays whole", LAUNCHER + " a表".encode("cp932"),
         started_quend(b",,,,a" + "表".encode("cp932")), settings=ini(wild_card(b"\\=/")),
         env=JAPANESE, codepage="cp932"),
    # Lead bytes 0xE0-0xFC, the second range: "灣" is E0 73.
    Case("cp932", "character of the second lead-byte range stays whole", LAUNCHER + " x灣".encode("cp932"),
         started_quend(b",,,,x" + "灣".encode("cp932")), env=JAPANESE, codepage="cp932"),
    Case("cp932", "guide's Japanese settings", LAUNCHER + " C:\\資料\\月報.txt".encode("cp932"),
         {JAPANESE_VIEWER: b"{dir}\\" + (JAPANESE_VIEWER + " C:\\資料\\月報.txt").encode("cp932")},
         settings=japanese_recipe("cp932"), files={"Quend.exe": TARGET, JAPANESE_VIEWER: TARGET},
         env=JAPANESE, codepage="cp932"),
    Case("cp932", "same bytes in code page 1252 end in s", LAUNCHER + b" a\x83s",
         started_quend(b",,,,a\x83*")),
    Case("cp932", "same bytes in code page 1252 end in a backslash", LAUNCHER + b" a\x95\\",
         started_quend(b",,,,a\x95/"), settings=ini(wild_card(b"\\=/"))),
]

# Windows' option "Use Unicode UTF-8 for worldwide language support" makes the
# ANSI code page UTF-8 (65001), as Wine does for a locale that has no ANSI
# code page of its own. Started in UTF-16, as Explorer starts programs.
UTF8 = {"LC_ALL": "hi_IN.UTF-8"}


def utf8_case(name, command, arguments, **options):
    return Case("utf8", name, LAUNCHER + command.encode(), started_quend(arguments.encode()), wide=True, env=UTF8,
                codepage="utf-8", **options)


UTF8_CASES = [
    utf8_case("Japanese argument passes whole, its final s becomes *", " 月報のメモs", ",,,,月報のメモ*"),
    utf8_case("character outside the BMP passes whole", " 𠮷野家.txt", ",,,,𠮷野家.txt"),
    utf8_case("UTF-8 name and value rewrite the ending", " 月報資料", ",,,,月報書類",
              settings=ini(wild_card("資料=書類".encode()))),
    Case("utf8", "launcher in a Japanese folder reads the settings beside it",
         '"{dir}\\日本語\\QuendRun.exe" notes'.encode(), started_quend(b"/ja:note*"), wide=True, env=UTF8,
         codepage="utf-8", launcher="日本語\\QuendRun.exe", settings_name="日本語\\QuendRun.ini",
         settings=ini(executable(b"Options=/ja:"))),
    Case("utf8", "guide's Japanese settings", LAUNCHER + " C:\\資料\\月報.txt".encode(),
         {JAPANESE_VIEWER: b"{dir}\\" + (JAPANESE_VIEWER + " C:\\資料\\月報.txt").encode()},
         settings=japanese_recipe("utf-8"), files={"Quend.exe": TARGET, JAPANESE_VIEWER: TARGET},
         wide=True, env=UTF8, codepage="utf-8"),
    # A file name may hold a lone surrogate, which UTF-8 can't: the ANSI
    # command line has U+FFFD in its place. The starter takes it as WTF-8.
    # The box shows the command line as it was given, the lone surrogate too.
    Case("utf8", "lone surrogate is refused", LAUNCHER + " a\ud800b.txt".encode("utf-8", "surrogatepass"), wide=True,
         env=UTF8, codepage="utf-8", exit=-1, wide_box=True,
         box=(LAUNCHER + " a\ud800b.txt".encode("utf-8", "surrogatepass"), ERROR_NO_UNICODE_TRANSLATION)),
]

START = [show_case(show) for show in (0, 2, 3, 7)] + [
    Case("start", "default table", LAUNCHER + b" notes", started_quend(b",,,,note*"),
         record={"flags": STARTF_USESHOWWINDOW_FORCEONFEEDBACK, "show": SW_SHOWNORMAL,
                 "priority": NORMAL_PRIORITY_CLASS}),
    # With a copy in the current folder and one beside the launcher, the
    # current folder's starts (OWN_FOLDER's source).
    Case("start", "launcher's folder and environment", LAUNCHER + b" a.txt",
         {"work\\Quend.exe": b"{dir}\\work\\Quend.exe ,,,,a.txt"}, files={"Quend.exe": TARGET, "work\\Quend.exe": TARGET},
         cwd="work", env={"QUENDRUN_PROBE": "probe value"}, known=OWN_FOLDER,
         record={"folder": b"{dir}\\work", "probe": b"probe value"}),
    Case("start", "launcher does not wait", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"),
         env={"QUENDRUN_TARGET_SLEEP": "2000"}, check=not_waited_for),
]

# Where the shell finds a bare FileName (OWN_FOLDER's source; the start group
# has copies in both the current folder and the launcher's). Wine takes
# WINEPATH as the front of the Windows PATH.
LOOKUP = [
    Case("lookup", "bare name in the current folder is found", LAUNCHER + b" a.txt",
         {"work\\Quend.exe": b"{dir}\\work\\Quend.exe ,,,,a.txt"}, files={"work\\Quend.exe": TARGET}, cwd="work"),
    Case("lookup", "bare name only beside the launcher is not found", LAUNCHER + b" a.txt", exit=-1, cwd="work",
         box=(b"Quend.exe", ERROR_FILE_NOT_FOUND), known=OWN_FOLDER),
    Case("lookup", "bare name on PATH is found", LAUNCHER + b" a.txt",
         {"bin\\Quend.exe": b"{dir}\\bin\\Quend.exe ,,,,a.txt"}, files={"bin\\Quend.exe": TARGET}, cwd="work",
         env={"WINEPATH": "{dir}\\bin"}),
]

HAS_SETTINGS = ini(executable(b"Options=,,,,"))
FILENAME, OPTIONS, KEY_LIST = ("Executable", "FileName"), ("Executable", "Options"), ("Wild Card", None)

READS = [
    Case("reads", "in order, with the matched value", LAUNCHER + b" notes", started_quend(b",,,,note*"),
         settings=HAS_SETTINGS, reads=[FILENAME, OPTIONS, KEY_LIST, ("Wild Card", "s")]),
    Case("reads", "no value without a match", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"),
         settings=HAS_SETTINGS, reads=[FILENAME, OPTIONS, KEY_LIST]),
    Case("reads", "one value when the first match is empty", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"),
         settings=ini(wild_card(b".txt=", b"t=x")), reads=[FILENAME, OPTIONS, KEY_LIST, ("Wild Card", ".txt")]),
    Case("reads", "none without an argument", LAUNCHER, settings=HAS_SETTINGS, reads=[]),
    Case("reads", "none with only blanks and control bytes", LAUNCHER + b" \t\x02 ",
         settings=HAS_SETTINGS, reads=[]),
]

FAILURE = [
    Case("failure", "program not found", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName=missing.exe")), box=(b"missing.exe", ERROR_FILE_NOT_FOUND)),
    Case("failure", "program found but not startable", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName={dir}\\bad.exe")),
         files={"Quend.exe": TARGET, "bad.exe": b"not a program\r\n"},
         box=(b"{dir}\\bad.exe ,,,,a.txt", ERROR_BAD_EXE_FORMAT)),
    # What Windows' lookup makes of an empty name is not on record (Wine's
    # finds the empty default of its App Paths key, and the empty path then
    # can't be started): the case asserts what holds either way.
    Case("failure", "empty program name", LAUNCHER + b" notes", exit=-1,
         settings=ini(executable(b"FileName=")), box=ANY_BOX),
    Case("failure", "program not found in code page 932", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName=" + "無い.exe".encode("cp932"))), env=JAPANESE, codepage="cp932",
         box=("無い.exe".encode("cp932"), ERROR_FILE_NOT_FOUND)),
    # A Japanese display language over an ANSI code page without Japanese:
    # the text, shown in UTF-16, is not question marks.
    Case("failure", "Japanese text under a Western code page", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName=missing.exe")), wide_box=True,
         env={"LC_ALL": "", "LC_CTYPE": "C.UTF-8", "LC_MESSAGES": "ja_JP.UTF-8"},
         box=(b"missing.exe", ERROR_FILE_NOT_FOUND)),
]


# Windows shows a process's first captioned, unowned top-level window that it
# shows with SW_SHOWNORMAL or SW_SHOW as its starter asked in STARTUPINFO
# instead (Microsoft's ShowWindow and STARTUPINFO pages): the box, unless the
# launcher uses that up first on a window of its own. These rows assert
# Windows' outcome, a box seen plainly whatever the show command; Wine 8 lacks
# the rule, so under it they hold with or without the mend, and the relay row
# shows the launcher's side of it.
def shown_plainly(folder, outcome):
    return [] if outcome.states == ["100"] else [
        "box window state %r, expected ['100']: visible, not minimized, not maximized" % outcome.states]


def plain_box_case(show):
    return Case("failure", "box shown plainly though started with show command %d" % show, LAUNCHER + b" a.txt",
                exit=-1, show=show, settings=ini(executable(b"FileName=missing.exe")),
                box=(b"missing.exe", ERROR_FILE_NOT_FOUND), check=shown_plainly)


RELAY = {"WINEDEBUG": "+relay"}
RELAY_LINE = re.compile(rb"([0-9a-f]+):(Call|Ret ) ([\w.]+)\((.*)\)(?: retval=([0-9a-f]+))? ret=([0-9a-f]+)$")


def launcher_calls(folder):
    """The calls that the launcher's own code made, in order, from Wine's relay
    trace: (module.function, arguments, return value), the module's name in
    lower case. Its code is its image's range of addresses, which the
    starter's image shares; its thread is the one whose code asked the shell
    for the program."""
    image = (folder / "QuendRun.exe").read_bytes()
    optional = struct.unpack_from("<I", image, 0x3C)[0] + 24
    pe32 = struct.unpack_from("<H", image, optional)[0] == 0x10B
    base, = struct.unpack_from("<I" if pe32 else "<Q", image, optional + (28 if pe32 else 24))
    size, = struct.unpack_from("<I", image, optional + 56)
    threads = {}
    with open(folder / "wine.log", "rb") as log:
        for line in log:
            match = RELAY_LINE.match(line.rstrip(b"\r\n"))
            if match and base <= int(match.group(6), 16) < base + size:
                thread, kind, function, arguments, value, _ = match.groups()
                module, name = function.decode().split(".", 1)
                threads.setdefault(thread, []).append((kind.decode(), module.lower() + "." + name, arguments, value))
    for events in threads.values():
        if ("Call", "shell32.FindExecutableA") in [event[:2] for event in events]:
            calls = []
            for kind, function, arguments, value in events:
                if kind == "Call":
                    calls.append([function, arguments, None])
                elif calls and calls[-1][0] == function:
                    calls[-1][2] = int(value, 16)
            return calls
    return None


def hides_own_window_before_box(folder, outcome):
    """The failure path creates a window, shows it with SW_HIDE and destroys it,
    then shows the box."""
    calls = launcher_calls(folder)
    if calls is None:
        return ["no call of the launcher in the relay trace"]
    names = [function for function, _, _ in calls]
    if "user32.MessageBoxW" not in names:
        return ["the launcher called no MessageBoxW"]
    before = calls[:names.index("user32.MessageBoxW")]
    created = [value for function, _, value in before if function == "user32.CreateWindowExW" and value]
    shown = [tuple(int(word, 16) for word in arguments.split(b",")) for function, arguments, _ in before
             if function == "user32.ShowWindow"]
    destroyed = [int(arguments, 16) for function, arguments, _ in before if function == "user32.DestroyWindow"]
    if not created or shown != [(created[0], 0)] or destroyed != [created[0]]:
        return ["before its box the launcher created %r, showed %r and destroyed %r, expected a window of its "
                "own shown with SW_HIDE (0) and destroyed" % (created, shown, destroyed)]
    return []


def creates_no_window(folder, outcome):
    calls = launcher_calls(folder)
    if calls is None or "kernel32.CreateProcessA" not in [function for function, _, _ in calls]:
        return ["no start of the program by the launcher in the relay trace"]
    windows = [function for function, _, _ in calls if function.startswith("user32.CreateWindow")]
    return ["a launch that succeeds created a window: %r" % windows] if windows else []


FAILURE += [plain_box_case(show) for show in (0, 2, 3, 6, 7)] + [
    Case("failure", "own window hidden before the box", LAUNCHER + b" a.txt", exit=-1, show=0, env=RELAY,
         settings=ini(executable(b"FileName=missing.exe")), box=(b"missing.exe", ERROR_FILE_NOT_FOUND),
         check=hides_own_window_before_box),
]
START += [
    Case("start", "no window on a launch", LAUNCHER + b" a.txt", started_quend(b",,,,a.txt"), show=0, env=RELAY,
         check=creates_no_window),
]

LONG = b"a" * 1018 + b".txt"  # 1022 bytes

MENDS = [
    Case("mends", "decoy at a prefix of the path is never started", LAUNCHER + b" a.txt",
         {"My Tools\\Quend.exe": b'"{dir}\\My Tools\\Quend.exe" ,,,,a.txt'},
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
]



def batch_ran(expected):
    """A check that run.bat ran and wrote its arguments, holding `expected`,
    and that nothing else ran."""
    def check(folder, outcome):
        ran = folder / "ran.txt"
        for _ in range(1200):
            if ran.exists() and ran.read_bytes():
                break
            time.sleep(0.05)
        faults = [] if ran.exists() and expected in ran.read_bytes() else ["run.bat did not run with %r" % expected]
        return faults + (["an injected command ran"] if (folder / "inj.txt").exists() else [])
    return check


def batch_refused(folder, outcome):
    ran = [name for name in ("ran.txt", "inj.txt") if (folder / name).exists()]
    return ["%s was written" % name for name in ran]


def not_planted(folder, outcome):
    marker = folder / "uxtheme.dll.loaded"
    return ["the planted DLL was loaded by " + marker.read_text().strip()] if marker.exists() else []


BATCH = ini(executable(b"FileName={dir}\\run.bat"))
BATCH_FILES = {"Quend.exe": TARGET, "run.bat": b"@echo %*>ran.txt\r\n"}
# Wine, like Windows, prefers a DLL found beside the program only when told
# to take native DLLs first.
NATIVE_UXTHEME = {"WINEDLLOVERRIDES": "mscoree,mshtml=;uxtheme=n,b"}
LOOK_ALIKE = b"a" * 1000

MENDS += [
    # Characters that the ANSI code page lacks arrive as look-alikes in it.
    Case("mends", "look-alike letter is refused", LAUNCHER + " C:\\docs\\ā.txt".encode(), wide=True, exit=-1,
         box=(LAUNCHER + b" C:\\docs\\a.txt", ERROR_NO_UNICODE_TRANSLATION), reads=[]),
    Case("mends", "fullwidth quotes are refused", LAUNCHER + " a＂ -evil ＂b".encode(), wide=True, exit=-1,
         box=(LAUNCHER + b' a" -evil "b', ERROR_NO_UNICODE_TRANSLATION)),
    Case("mends", "Japanese in code page 1252 is refused", LAUNCHER + " 日本s".encode(), wide=True, exit=-1,
         box=(LAUNCHER + b" ??s", ERROR_NO_UNICODE_TRANSLATION)),
    Case("mends", "look-alike past the first thousand characters", LAUNCHER + b" " + LOOK_ALIKE + "ā".encode(),
         wide=True, exit=-1, box=(LAUNCHER + b" " + LOOK_ALIKE + b"a", ERROR_NO_UNICODE_TRANSLATION)),
    Case("mends", "look-alike folder reads no settings", '"{dir}\\Tōols\\QuendRun.exe" notes'.encode(),
         wide=True, exit=-1, launcher="Tōols\\QuendRun.exe", files={"Tools\\Quend.exe": TARGET},
         settings=ini(executable(b"FileName={dir}\\Tools\\Quend.exe")), settings_name="Tools\\QuendRun.ini",
         box=(b'"{dir}\\Tools\\QuendRun.exe" notes', ERROR_NO_UNICODE_TRANSLATION)),
    Case("mends", "look-alike folder without an argument", '"{dir}\\Tōols\\QuendRun.exe"'.encode(), wide=True,
         launcher="Tōols\\QuendRun.exe"),
    Case("mends", "character held by code page 1252", LAUNCHER + " café notes".encode(), wide=True,
         started=started_quend(b",,,,caf\xe9 note*")),
    Case("mends", "Japanese held by code page 932", LAUNCHER + " 日本s".encode(), wide=True, env=JAPANESE,
         codepage="cp932", started=started_quend(b",,,," + "日本*".encode("cp932"))),
    # cmd.exe runs a batch file and reads its command line as commands.
    Case("mends", "plain argument runs a batch file", LAUNCHER + b" notes", settings=BATCH, files=BATCH_FILES,
         check=batch_ran(b"note*")),
    Case("mends", "quoted ampersand runs a batch file", LAUNCHER + b' "a&b"', settings=BATCH, files=BATCH_FILES,
         check=batch_ran(b'"a&b"')),
    Case("mends", "command after an ampersand is refused", LAUNCHER + b" a&echo INJECTED>inj.txt", exit=-1,
         settings=BATCH, files=BATCH_FILES, check=batch_refused,
         box=(b"{dir}\\run.bat ,,,,a&echo INJECTED>inj.txt", ERROR_BAD_ARGUMENTS)),
    Case("mends", "batch file named in capitals is refused", LAUNCHER + b" a&echo INJECTED>inj.txt", exit=-1,
         settings=ini(executable(b"FileName={dir}\\RUN.BAT")),
         files={"Quend.exe": TARGET, "RUN.BAT": BATCH_FILES["run.bat"]},
         check=batch_refused, box=(b"{dir}\\RUN.BAT ,,,,a&echo INJECTED>inj.txt", ERROR_BAD_ARGUMENTS)),
    Case("mends", "percent sign in quotes is refused", LAUNCHER + b' "50%PATH%"', exit=-1, settings=BATCH,
         files=BATCH_FILES, check=batch_refused, box=(b'{dir}\\run.bat ,,,,"50%PATH%"', ERROR_BAD_ARGUMENTS)),
    Case("mends", "failed start shows the quoted path", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName={dir}\\My Tools\\bad.exe")),
         files={"Quend.exe": TARGET, "My Tools\\bad.exe": b"not a program\r\n"},
         box=(b'"{dir}\\My Tools\\bad.exe" ,,,,a.txt', ERROR_BAD_EXE_FORMAT)),
    Case("mends", "document no program opens", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName={dir}\\doc.qqq")), files={"Quend.exe": TARGET, "doc.qqq": b"text"},
         box=(b"{dir}\\doc.qqq", ERROR_NO_ASSOCIATION)),
    Case("mends", "DLL planted beside the launcher is not loaded", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName=missing.exe")), files={"uxtheme.dll": PLANTED}, env=NATIVE_UXTHEME,
         box=(b"missing.exe", ERROR_FILE_NOT_FOUND), check=not_planted),
]

# The two paths that others may choose: the launcher's own, which names its
# settings file, and a batch file's, which cmd.exe reads. Each case has a decoy
# that must not run.
#
# "Q:\My Tools\QuendRun.exe" gives the token "Q:\My" and the drive-relative
# name "Q:ini", which the profile reader takes from Q:'s current folder
# (Wine's PROFILE_Open hands it to GetFullPathNameW). Q: is the case's folder.
PLANTED_INI = ini(executable(b"FileName=Q:\\docs\\Planted.exe", b"Options=/planted:"))

# cmd.exe /s takes off the first quote behind /c and the last one on the line;
# without /s it keeps them only around a lone quoted name without any of
# &<>()@^| between them (cmd /?). Windows starts a batch file named as the
# application as "cmd.exe /c" and the line unchanged: rust-lang/rust#91991's
# capture, and ReactOS's CreateProcessInternalW. Wine adds /s and a pair of
# quotes of its own, which hides that form; the rows below read the launcher's
# own call by Windows' rule instead.
CMD_SPECIAL = b"&<>()@^|"


def cmd_strips_quotes(line, strip):
    """cmd /?'s rule for the text behind /c: without /s, exactly two quotes
    around text with a blank and none of &<>()@^| stay (the rule's last
    condition, that the text names a program, is taken as met); otherwise a
    first quote is taken off with the last one on the line."""
    if not line.startswith(b'"'):
        return line
    inner = line[1:line.find(b'"', 1)]
    if not strip and line.count(b'"') == 2 and re.search(rb"[ \t]", inner) and \
            not any(byte in CMD_SPECIAL for byte in inner):
        return line
    last = line.rfind(b'"')
    return line[1:last] + line[last + 1:] if last > 0 else line[1:]


def cmd_runs(line, strip):
    """What cmd.exe runs of the text behind /c, with /s when `strip`:
    (program, the rest of its line, others), where others lists what it would
    run, redirect, escape or expand beyond that one command."""
    line = cmd_strips_quotes(line.lstrip(b" \t"), strip)
    others, quoted, command = [], False, b""
    for at in range(len(line)):
        byte = line[at:at + 1]
        if byte == b'"':
            quoted = not quoted
        elif byte in (b"%", b"\r", b"\n"):
            others.append("expands or ends the line at %r" % line[at:])
        elif not quoted and byte == b"^":
            others.append("escapes with ^ at %r" % line[at:])
        elif not quoted and byte in b"&|<>":
            others.append("runs or redirects to %r" % line[at:])
            break
        command += byte
    if command.startswith(b'"'):
        end = command.find(b'"', 1)
        return command[1:end], command[end + 1:], others
    end = re.search(rb"[ \t,;=]|$", command).start()
    return command[:end], command[end:], others


C_ESCAPES = {b"n": b"\n", b"r": b"\r", b"t": b"\t"}


def relay_string(argument):
    """A string argument as Wine's relay trace prints it, its pointer and the
    text in C escapes; None for a null pointer."""
    match = re.match(rb'[0-9a-f]+ "(.*)"$', argument)
    if match is None:
        return None

    def unescape(escape):
        code = escape.group(1)
        return bytes.fromhex(code[1:].decode()) if code.startswith(b"x") else C_ESCAPES.get(code, code)
    return re.sub(rb"\\(x[0-9a-f]{2}|.)", unescape, match.group(1))


def windows_runs(program, rest):
    """The launcher's CreateProcessA call for a batch file, read as Windows
    runs it: it must start the system's cmd.exe itself, and that cmd.exe must
    run the batch file with `rest` and nothing else."""
    def check(folder, outcome):
        calls = launcher_calls(folder)
        starts = [arguments for function, arguments, _ in calls or [] if function == "kernel32.CreateProcessA"]
        if not starts:
            return ["no start of a program by the launcher in the relay trace"]
        # The arguments up to the command line's closing quote and the comma behind it.
        match = re.match(rb'([0-9a-f]+(?: ".*?")?),([0-9a-f]+ ".*"),[0-9a-f]+,[0-9a-f]+,', starts[0])
        if match is None:
            return ["can't read the call's arguments: %r" % starts[0]]
        application, line = relay_string(match.group(1)), relay_string(match.group(2))
        expected = program.replace(b"{dir}", folder_name(folder))
        faults = []
        if application is not None and IS_BATCH.search(application):
            # Windows' own wrapping of a batch file named as the application.
            ran, rest_ran, others = cmd_runs(line, strip=False)
        elif application is None or not re.match(rb"(?i)[a-z]:\\.*\\system32\\cmd\.exe$", application):
            return ["the application is %r, not the system's cmd.exe by its full path" % application]
        elif not re.match(rb"(?i)cmd\.exe /d /v:off /s /c ", line):
            return ["cmd.exe's line %r lacks /d /v:off /s /c" % line]
        else:
            ran, rest_ran, others = cmd_runs(line[len(b"cmd.exe /d /v:off /s /c "):], strip=True)
        if ran != expected or rest_ran != rest:
            faults.append("Windows' cmd.exe would run %r with %r, expected %r with %r" % (ran, rest_ran, expected, rest))
        return faults + ["Windows' cmd.exe would also: " + other for other in others]
    return check


IS_BATCH = re.compile(rb"(?i)\.(bat|cmd)[. ]*$")


def folder_name(folder):
    return b"Z:" + str(folder).replace("/", "\\").encode()


RUN_BAT = b"@echo %*>ran.txt\r\n"
DECOY_BAT = b"@echo decoy>inj.txt\r\n"
R_AND_D = ini(executable(b"FileName={dir}\\R&D\\run.bat"))
R_AND_D_FILES = {"Quend.exe": TARGET, "R&D\\run.bat": RUN_BAT, "D\\run.bat": DECOY_BAT}
X86 = ini(executable(b"FileName={dir}\\Program Files (x86)\\Tool\\run.bat"))
X86_FILES = {"Quend.exe": TARGET, "Program Files (x86)\\Tool\\run.bat": RUN_BAT, "Program.bat": DECOY_BAT}
QUOTED_FILE = b' "C:\\My Files\\a.txt"'

PATHS = [
    Case("paths", "launcher in a folder with a space reads no planted ini", b'"Q:\\My Tools\\QuendRun.exe" a.txt',
         exit=-1, box=(b"Q:\\My Tools\\QuendRun.exe", ERROR_BAD_PATHNAME), reads=[], cwd="docs",
         drives={"q": "."}, launcher="My Tools\\QuendRun.exe", settings_name="My Tools\\QuendRun.ini",
         settings=ini(executable(b"Options=/own:")),
         files={"Quend.exe": TARGET, "docs\\Planted.exe": TARGET, "docs\\ini": PLANTED_INI, "ini": PLANTED_INI}),
    Case("paths", "launcher in a folder with a space, started unquoted, reads no planted ini",
         b"Q:\\My Tools\\QuendRun.exe a.txt", exit=-1, box=(b"Q:\\My", ERROR_BAD_PATHNAME), reads=[], cwd="docs",
         drives={"q": "."}, launcher="My Tools\\QuendRun.exe",
         files={"Quend.exe": TARGET, "docs\\Planted.exe": TARGET, "docs\\ini": PLANTED_INI, "ini": PLANTED_INI}),
    # A full path after the cut stays as it was: in a drive's root only
    # administrators create files by default.
    Case("paths", "cut to a full path reads that name", b'"Q:\\Program Files\\QuendRun.exe" a.txt',
         {"Quend.exe": b"Q:\\Quend.exe /root:a.txt"}, cwd="docs", drives={"q": "."}, launcher="Program Files\\QuendRun.exe",
         settings_name="Progini", settings=ini(executable(b"FileName=Q:\\Quend.exe", b"Options=/root:")),
         files={"Quend.exe": TARGET, "docs\\Planted.exe": TARGET, "docs\\ini": PLANTED_INI}),
    Case("paths", "batch file in R&D runs, not the decoy", LAUNCHER + b" a.txt", settings=R_AND_D,
         files=R_AND_D_FILES, check=batch_ran(b",,,,a.txt")),
    Case("paths", "batch file under Program Files (x86) gets its quoted argument", LAUNCHER + QUOTED_FILE,
         settings=X86, files=X86_FILES, check=batch_ran(b',,,,"C:\\My Files\\a.txt"')),
    Case("paths", "batch file with a percent sign in its path is refused", LAUNCHER + b" a.txt", exit=-1,
         settings=ini(executable(b"FileName={dir}\\a%QR%b\\run.bat")), env={"QR": "x"},
         files={"Quend.exe": TARGET, "a%QR%b\\run.bat": RUN_BAT, "axb\\run.bat": DECOY_BAT},
         box=(b"{dir}\\a%QR%b\\run.bat ,,,,a.txt", ERROR_BAD_ARGUMENTS), check=batch_refused),
    Case("paths", "launcher's own start of a batch file in R&D, read as Windows' cmd.exe reads it", LAUNCHER + b" a.txt",
         settings=R_AND_D, files=R_AND_D_FILES, env=RELAY, check=windows_runs(b"{dir}\\R&D\\run.bat", b" ,,,,a.txt")),
    Case("paths", "launcher's own start of a batch file under Program Files (x86), read as Windows' cmd.exe reads it",
         LAUNCHER + QUOTED_FILE, settings=X86, files=X86_FILES, env=RELAY,
         check=windows_runs(b"{dir}\\Program Files (x86)\\Tool\\run.bat", b' ,,,,"C:\\My Files\\a.txt"')),
]

# The launcher's stack guard, in a helper built and linked as the launcher is.
GUARDED = b'"{dir}\\Guarded.exe"'
STATUS_STACK_BUFFER_OVERRUN = -0x3FFFFBF7  # 0xC0000409, as a signed exit code


def alone(folder, outcome):
    """The helper was the only process of its job: no debugger was started
    for a crash, and nothing else."""
    return [] if outcome.processes == 1 else ["%r processes ran, not the helper alone" % outcome.processes]


def guards_differ(folder, outcome):
    path = folder / "guards.txt"
    guards = path.read_text().split() if path.exists() else []
    if len(guards) != 2:
        return ["%d guards reported, expected 2" % len(guards)]
    faults = ["a guard is 0: %r" % guards] if "0" in guards else []
    if guards[0] == guards[1]:
        faults.append("the guards are the same: %r" % guards)
    return faults


GUARD = [
    Case("guard", "smashed stack ends the process as Windows' guard does", GUARDED + b" overflow",
         launcher="Guarded.exe", helper="Guarded.exe", exit=STATUS_STACK_BUFFER_OVERRUN, check=alone),
    Case("guard", "guard is seeded anew in each process", GUARDED + b" guard {dir}\\guards.txt",
         launcher="Guarded.exe", helper="Guarded.exe", runs=2, check=guards_differ),
]

from hostile import HOSTILE  # noqa: E402 (it builds on the definitions above)

CASES = ARGUMENT + TOKEN + LOOKUP + SETTINGS + MAPPING + JAPANESE_CASES + UTF8_CASES + START + READS + FAILURE + MENDS + PATHS + HOSTILE + GUARD
