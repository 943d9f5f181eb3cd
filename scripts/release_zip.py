#!/usr/bin/env python3
"""Packs the release zip of a built QuendRun.exe, and its SHA-256 line.

    python3 scripts/release_zip.py EXE OUTDIR

Writes OUTDIR/QuendRun-<version>-win32.zip, the version being FILEVERSION of
resources/QuendRun.rc, holding QuendRun.exe, QuendRun.ini, README.txt,
README-ja.txt and LICENSE.txt, and beside it the zip's .sha256 as sha256sum prints it. The same
inputs give the same bytes: fixed order, dates and attributes. README.txt is
the user's guide of docs/GUIDE.md made plain text by pandoc, and
README-ja.txt that of docs/GUIDE.ja.md.

With QUENDRUN_SIGN_PFX (a PKCS#12 file) and QUENDRUN_SIGN_PASSWORD set, the
exe in the zip is signed with osslsigncode (SHA-256), and time-stamped by the
RFC 3161 server QUENDRUN_SIGN_TIMESTAMP_URL when that is set too. The given
exe is left as it is.
"""
import hashlib
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATE = (2026, 1, 1, 0, 0, 0)   # every member's date, so that builds compare equal
FILE_ATTRIBUTE_ARCHIVE = 0x20

# A guide's part for users is the part of its file above this line.
GUIDE_END = "<!-- end of the user's guide -->"
# Plain text for Notepad: no pictures, headings marked in the way of the
# guide's language, and each table row a block of lines.
# A block of code starts at the line's start, so that its lines paste
# without blanks in front: flush-code.lua marks each of its lines with
# CODE_MARK, taken out here with the indent that pandoc put before it.
FILTERS = ["no-images.lua", "heading-marks.lua", "table-blocks.lua", "flush-code.lua"]
CODE_MARK = re.compile("^ *\ue000")
PANDOC = ["pandoc", "--from=gfm", "--to=plain", "--columns=78", "--eol=lf"]
# Typographic characters and their stand-ins in README.txt, put in before
# pandoc lays out the text; any other non-ASCII character fails the release.
ASCII_STAND_INS = str.maketrans({
    "\u2018": "'", "\u2019": "'", "\u201c": '"', "\u201d": '"',   # quotation marks
    "\u2010": "-", "\u2011": "-", "\u2013": "-", "\u2014": "--", "\u2212": "-",   # dashes, minus
    "\u2026": "...", "\u00a0": " ", "\u202f": " ", "\u00d7": "x", "\u2192": "->", "\u00a9": "(c)"})


def version():
    """FILEVERSION of the version resource, as 1.0.0.1."""
    text = (ROOT / "resources" / "QuendRun.rc").read_text(encoding="ascii")
    match = re.search(r"^\s*FILEVERSION\s+(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*$", text, re.M)
    if not match:
        sys.exit("release_zip: no FILEVERSION in resources/QuendRun.rc")
    return ".".join(match.groups())


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def sample_settings():
    data = (ROOT / "resources" / "QuendRun.ini").read_bytes()
    if data.startswith(b"\xef\xbb\xbf") or not data.isascii() or crlf(data) != data:
        sys.exit("release_zip: resources/QuendRun.ini must be ASCII with CRLF line ends, no byte order mark")
    return data


def encoded(text, encoding, where):
    try:
        return text.encode(encoding)
    except UnicodeEncodeError as error:
        char = text[error.start]
        sys.exit("release_zip: %s: %r (U+%04X) has no form in %s" % (where, char, ord(char), encoding))


def guide_text(markdown, where, encoding, language, stand_ins=None, wrap="auto", filters=()):
    """A user's guide, in Markdown, as plain text for Notepad:
    made by pandoc, CRLF line ends, in encoding. language ("en" or "ja")
    decides how headings are marked. stand_ins (a str.translate table) are
    put in first; a character that the encoding still lacks fails. wrap is
    pandoc's: "auto" fills paragraphs to the width, "none" leaves the lines
    to the filters, which run after FILTERS."""
    lines = markdown.splitlines()
    ends = [number for number, line in enumerate(lines) if line.strip() == GUIDE_END]
    if not ends:
        sys.exit("release_zip: %s: no line %s ends the user's guide" % (where, GUIDE_END))
    guide = [line.translate(stand_ins or {}) for line in lines[:ends[0]]]
    for number, line in enumerate(guide, 1):
        encoded(line, encoding, "%s:%d" % (where, number))
    try:
        lua = ["--lua-filter=%s" % (ROOT / "scripts" / name) for name in FILTERS + list(filters)]
        result = subprocess.run(PANDOC + lua + ["--wrap=" + wrap, "--metadata=lang:" + language],
                                input="\n".join(guide) + "\n", capture_output=True, encoding="utf-8")
    except FileNotFoundError:
        sys.exit("release_zip: pandoc is not installed (sh scripts/setup installs it)")
    if result.returncode != 0:
        sys.exit("release_zip: pandoc failed on %s:\n%s" % (where, result.stderr))
    text = "".join(CODE_MARK.sub("", line).rstrip() + "\r\n" for line in result.stdout.splitlines())
    if "\ue000" in text:
        sys.exit("release_zip: %s: a code line's mark is left inside a line" % where)
    return encoded(text, encoding, "%s as plain text" % where)


def signed(exe, work):
    """The exe's bytes, signed when the signing variables are set."""
    pfx, password = os.environ.get("QUENDRUN_SIGN_PFX"), os.environ.get("QUENDRUN_SIGN_PASSWORD")
    if not pfx and not password:
        return exe.read_bytes()
    if not pfx or password is None:
        sys.exit("release_zip: signing needs both QUENDRUN_SIGN_PFX and QUENDRUN_SIGN_PASSWORD")
    out = work / "QuendRun.exe"
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", "-", "-h", "sha256",
               "-n", "QuendRun", "-in", str(exe), "-out", str(out)]
    url = os.environ.get("QUENDRUN_SIGN_TIMESTAMP_URL")
    if url:
        command[-4:-4] = ["-ts", url]
    # The password goes through a pipe, not the command line that ps shows.
    result = subprocess.run(command, input=password.encode(), capture_output=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout.decode(errors="replace") + result.stderr.decode(errors="replace"))
        sys.exit("release_zip: osslsigncode failed (exit code %d)" % result.returncode)
    return out.read_bytes()


def write_zip(path, members):
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, DATE)
            info.create_system = 0   # MS-DOS attributes, as a Windows zip has
            info.external_attr = FILE_ATTRIBUTE_ARCHIVE
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    exe, outdir = pathlib.Path(argv[1]), pathlib.Path(argv[2])
    outdir.mkdir(parents=True, exist_ok=True)
    name = "QuendRun-%s-win32.zip" % version()
    readme = guide_text((ROOT / "docs" / "GUIDE.md").read_text(encoding="utf-8"), "docs/GUIDE.md", "ascii", "en",
                        ASCII_STAND_INS)
    # In the code page that Notepad on Japanese Windows reads as ANSI. Pandoc
    # breaks lines only at blanks, which Japanese hardly has, so a filter of
    # our own lays out its lines.
    readme_ja = guide_text((ROOT / "docs" / "GUIDE.ja.md").read_text(encoding="utf-8"), "docs/GUIDE.ja.md", "cp932", "ja",
                           wrap="none", filters=["wrap-japanese.lua"])
    with tempfile.TemporaryDirectory() as work:
        members = [("QuendRun.exe", signed(exe, pathlib.Path(work))),
                   ("QuendRun.ini", sample_settings()),
                   ("README.txt", readme),
                   ("README-ja.txt", readme_ja),
                   ("LICENSE.txt", crlf((ROOT / "LICENSE").read_bytes()))]
    partial = outdir / (name + ".partial")
    write_zip(partial, members)
    partial.replace(outdir / name)
    digest = hashlib.sha256((outdir / name).read_bytes()).hexdigest()
    (outdir / (name + ".sha256")).write_text("%s  %s\n" % (digest, name))
    print("written: %s" % (outdir / name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
