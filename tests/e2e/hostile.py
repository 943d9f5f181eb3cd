"""Hostile input for the real launcher: lengths at and past every capacity,
settings files of odd shapes, and every byte value in the argument.

Each case ends in one of the launcher's outcomes: the exact command line
started, or the "File name is too long" box and -1. Nothing may crash, hang
or start a program with a cut or altered argument.
"""
import random
import re
from dataclasses import dataclass

from cases import (Case, ERROR_FILENAME_EXCED_RANGE, JAPANESE, LAUNCHER, QUEND,
                   TARGET, executable, ini, started_quend, wild_card)

GROUP = "hostile"
EXE = b"\\QuendRun.exe"
ALPHABET = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-_+=,;~!"


def text(length, end=b""):
    """`length` bytes without blanks or quotes, ending in `end`."""
    body = (ALPHABET * (length // len(ALPHABET) + 1))[:length - len(end)]
    return body + end


@dataclass
class Sized(Case):
    """A case whose lengths count the case's own folder, known only when it
    runs: {fill} pads the program token (the launcher's path and what is glued
    to it) to `token` bytes, and {program} is the path of a target copy of
    exactly `program` bytes, placed in a folder whose name takes up the rest."""
    token: int = None
    program: int = None

    def expander(self, folder):
        fields = {b"{dir}": folder}
        if self.token is not None:
            fields[b"{fill}"] = text(self.token - len(folder + EXE))
        if self.program is not None:
            padding = self.program - len(folder + b"\\") - len(b"\\Quend.exe")
            name = "p" * padding + "\\Quend.exe"
            self.files = {"Quend.exe": TARGET, name: TARGET}
            self.started = {name if key == "{program}" else key: value for key, value in self.started.items()}
            fields[b"{program}"] = folder + b"\\" + name.encode()

        def expand(value):
            for field, replacement in fields.items():
                value = value.replace(field, replacement)
            return value
        return expand


def too_long(name, command, **options):
    """Starts nothing: the "File name is too long" box under the program name."""
    caption = options.pop("caption", b"Quend.exe")
    return Case(GROUP, name, command, exit=-1, box=(caption, ERROR_FILENAME_EXCED_RANGE), **options)


TRACE = {"WINEDEBUG": "+profile"}
READ = re.compile(r'trace:profile:GetPrivateProfileStringW L"([^"]*)",(?:\(null\)|L"([^"]*)"),')


def reads_made(*expected):
    """A check that the launcher asked the profile reader for exactly these
    (section, key) reads. Wine's trace cuts a long settings path short, so the
    reads are told by section and key alone; the shell's reads of win.ini are
    left out."""
    def check(folder, outcome):
        reads = []
        for line in (folder / "wine.log").read_bytes().decode("utf-8", "replace").splitlines():
            match = READ.search(line)
            if match and 'l"win.ini"' not in line.lower():
                reads.append((match.group(1), match.group(2)))
        return [] if reads == list(expected) else ["profile reads %r, expected %r" % (reads, list(expected))]
    return check


NO_READS = reads_made()
DEFAULT_READS = reads_made(("Executable", "FileName"), ("Executable", "Options"), ("Wild Card", None),
                           ("Wild Card", "s"))

ARGUMENT_1023 = text(1023, b".log")
VALUE_259 = text(259, b"*")
OPTIONS_259 = b"/" + text(258)

# Seeded, so that every run reads the same noise.
NOISE = bytes(random.Random(4).getrandbits(8) for _ in range(8192))
FILLER = [b"key%06d=filler value %d" % (n, n) for n in range(99_994)]  # 100,000 lines in all

LENGTHS = [
    Case(GROUP, "argument of 1023 bytes", LAUNCHER + b" " + ARGUMENT_1023, started_quend(b",,,," + ARGUMENT_1023)),
    too_long("argument of 1024 bytes", LAUNCHER + b" " + text(1024, b".log")),
    too_long("argument of 4096 bytes", LAUNCHER + b" " + text(4096, b"s")),
    too_long("argument of 32000 bytes", LAUNCHER + b" " + text(32000, b"s")),
    Case(GROUP, "32000 blanks and control bytes only", LAUNCHER + b" \t\x01\x1f" * 8000, env=TRACE, check=NO_READS),
]

TOKENS = [
    # The glued bytes are both the rest of the program token and the argument.
    Sized(GROUP, "glued path makes a token of 1023 bytes", LAUNCHER + b"{fill} notes",
          started_quend(b",,,,{fill} note*"), token=1023, env=TRACE, check=DEFAULT_READS),
    Sized(GROUP, "glued path makes a token of 1024 bytes", LAUNCHER + b"{fill} notes",
          started_quend(b",,,,{fill} note*"), token=1024, env=TRACE, check=NO_READS,
          settings=ini(executable(b"Options=wrong"))),
    Case(GROUP, "glued argument of 1023 bytes after the path", LAUNCHER + ARGUMENT_1023,
         started_quend(b",,,," + ARGUMENT_1023), env=TRACE, check=NO_READS, settings=ini(executable(b"Options=wrong"))),
    too_long("glued argument of 2000 bytes after the path", LAUNCHER + text(2000), env=TRACE, check=NO_READS,
             settings=ini(executable(b"FileName=Other.exe"))),
]

MAPPINGS = [
    # The name "x" ends the argument; its 259-byte value replaces it.
    Case(GROUP, "mapping lands on 1023 bytes", LAUNCHER + b" " + text(765, b"x"),
         started_quend(b",,,," + text(764) + VALUE_259), settings=ini(wild_card(b"x=" + VALUE_259))),
    too_long("mapping grows past 1023 bytes", LAUNCHER + b" " + text(766, b"x"), caption=QUEND,
             settings=ini(executable(b"FileName=" + QUEND), wild_card(b"x=" + VALUE_259))),
    Case(GROUP, "argument of 1023 bytes through the default table", LAUNCHER + b" " + text(1023, b"s"),
         started_quend(b",,,," + text(1022) + b"*")),
]

# Wine 8's shell lookup holds the name in 256 characters and finds no program
# by a longer one, though the file is there.
SHORT_LOOKUP = {"8": "its shell lookup finds no program by a name of more than 255 bytes"
                     " (dlls/shell32/shlexec.c, SHELL_FindExecutable)"}

CAPACITIES = [
    # The lookup's result holds MAX_PATH characters, the NUL among them
    # (Microsoft's FindExecutableA page): a 259-byte path fits whole. A longer
    # value is cut by the reader to 259 bytes, the path of the program.
    Sized(GROUP, "FileName of 259 bytes reaches the lookup whole", LAUNCHER + b" a.txt",
          {"{program}": b"{program} ,,,,a.txt"}, settings=ini(executable(b"FileName={program}")), program=259,
          known=SHORT_LOOKUP),
    Sized(GROUP, "FileName over 260 bytes is cut to 259", LAUNCHER + b" a.txt",
          {"{program}": b"{program} ,,,,a.txt"}, settings=ini(executable(b"FileName={program}" + text(60))),
          program=259, known=SHORT_LOOKUP),
    Case(GROUP, "Options of 259 bytes", LAUNCHER + b" a.txt", started_quend(OPTIONS_259 + b"a.txt"),
         settings=ini(executable(b"Options=" + OPTIONS_259))),
    Case(GROUP, "Options over 260 bytes are cut to 259", LAUNCHER + b" a.txt", started_quend(OPTIONS_259 + b"a.txt"),
         settings=ini(executable(b"Options=" + OPTIONS_259 + b"-cut-off-" * 10))),
    # In code page 932 Wine's reader cuts on a character boundary: 129
    # double-byte characters, 258 bytes, as the 130th would not fit whole.
    Case(GROUP, "Options over 260 bytes in code page 932 keep whole characters", LAUNCHER + b" a.txt",
         started_quend("あ".encode("cp932") * 129 + b"a.txt"),
         settings=ini(executable(b"Options=" + "あ".encode("cp932") * 150)), env=JAPANESE, codepage="cp932"),
    # Options 259 and argument 1023 bytes behind a path of 252, the longest
    # from which the target can still write its record (the record's path
    # must stay under 260 bytes): 1535 of the line's 1542 bytes.
    Sized(GROUP, "command line filled to the last argument byte", LAUNCHER + b" " + ARGUMENT_1023,
          {"{program}": b"{program} " + OPTIONS_259 + ARGUMENT_1023},
          settings=ini(executable(b"FileName={program}", b"Options=" + OPTIONS_259)), program=252),
]

FILES = [
    Case(GROUP, "settings path names a folder", LAUNCHER + b" notes", started_quend(b",,,,note*"),
         files={"Quend.exe": TARGET, "QuendRun.ini\\inside.txt": b"[Executable]\r\nOptions=wrong\r\n"}),
    Case(GROUP, "settings file of random bytes", LAUNCHER + b" notes", started_quend(b",,,,note*"),
         settings=NOISE),
    Case(GROUP, "section after random bytes is read", LAUNCHER + b" notes", started_quend(b"/after:note*"),
         settings=NOISE + b"\r\n" + ini(executable(b"Options=/after:"))),
    Case(GROUP, "settings file of 100,000 lines", LAUNCHER + b" a.txt", started_quend(b"/big:a.log"),
         settings=ini((b"Filler", FILLER), wild_card(b".txt=.log", b"t=wrong"), executable(b"Options=/big:"))),
    Case(GROUP, "settings file without a final line break", LAUNCHER + b" notes", started_quend(b"/end:note*"),
         settings=b"[Executable]\r\nOptions=/end:"),
    # Windows' reader does not skip a UTF-8 byte order mark: it stays part of
    # the first line, whose section is lost (Thomas Weller's answer to "How do
    # WritePrivateProfileStringA() and Unicode go together?" on Stack
    # Overflow, tried on Windows 10 21H1; no Wine test covers the mark).
    Case(GROUP, "settings file with a UTF-8 byte order mark loses its first section", LAUNCHER + b" notes",
         started_quend(b",,,,note*"), settings=b"\xef\xbb\xbf" + ini(executable("Options=/é:".encode("utf-8"))),
         known={major: "its settings reader skips a UTF-8 byte order mark and reads the file as UTF-8"
                       " (dlls/kernel32/profile.c, PROFILE_DetectTextEncoding)" for major in ("8", "10")}),
]

CONTROL = b"x" + bytes(range(0x01, 0x20)) + b"\x7fy\x01"
HIGH = b"a" + bytes(range(0x80, 0x100)) + b"z"
# Single-byte katakana and double-byte characters, some with a second byte of
# "\\", "s" or "[" ("表", "ピ", "ー"): no listed name ends it on a boundary.
JAPANESE_TEXT = b"a" + bytes(range(0xA1, 0xE0)) + "日本語の表とピー".encode("cp932")

BYTES = [
    Case(GROUP, "control bytes in the argument", LAUNCHER + b" " + CONTROL, started_quend(b",,,," + CONTROL)),
    Case(GROUP, "bytes 0x80-0xFF in the argument", LAUNCHER + b" " + HIGH, started_quend(b",,,," + HIGH)),
    Case(GROUP, "bytes 0x80-0xFF in the argument in code page 932", LAUNCHER + b" " + JAPANESE_TEXT,
         started_quend(b",,,," + JAPANESE_TEXT), settings=ini(wild_card(b"s=*", b"\\=/", b"[=(")),
         env=JAPANESE, codepage="cp932"),
]

HOSTILE = LENGTHS + TOKENS + MAPPINGS + CAPACITIES + FILES + BYTES
