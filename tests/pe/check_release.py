#!/usr/bin/env python3
"""Checks the release zip that scripts/release_zip.py packs from the product.

    check_release.py package EXE WORKDIR   its members, and that it packs alike twice
    check_release.py signed EXE WORKDIR    the exe in it signed with a throwaway certificate

Exits 77 (skipped) for "signed" when osslsigncode is not installed.
"""
import configparser
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import zipfile

import pefile

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKER = ROOT / "scripts" / "release_zip.py"
MEMBERS = ["QuendRun.exe", "QuendRun.ini", "README.txt", "README-ja.txt", "LICENSE.txt"]
MARKER = "<!-- end of the user's guide -->"
# The launcher's defaults, which the sample settings spell out.
SETTINGS = {"Executable": {"FileName": "Quend.exe", "Options": ",,,,"}, "Wild Card": {"s": "*"}}
SKIPPED = 77

faults = []


def expect(what, got, wanted):
    if got != wanted:
        faults.append("%s: %r, expected %r" % (what, got, wanted))


def pack(exe, outdir, **signing):
    environment = {k: v for k, v in os.environ.items() if not k.startswith("QUENDRUN_SIGN_")}
    environment.update(signing)
    subprocess.run([sys.executable, str(PACKER), str(exe), str(outdir)], env=environment, check=True)
    zips = sorted(outdir.glob("QuendRun-*-win32.zip"))
    expect("zips in %s" % outdir, len(zips), 1)
    return zips[0]


def text_member(name, data, encoding="ascii"):
    """A text member: in the encoding (ASCII unless named), CRLF line ends
    only, no byte order mark."""
    try:
        text = data.decode(encoding)
    except UnicodeDecodeError as error:
        faults.append("%s is not %s: %s" % (name, encoding, error))
        text = data.decode(encoding, errors="replace")
    if data.startswith((b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")):
        faults.append("%s starts with a byte order mark" % name)
    if data.replace(b"\r\n", b"").count(b"\n") or data.replace(b"\r\n", b"").count(b"\r"):
        faults.append("%s has line ends other than CRLF" % name)
    if not data.endswith(b"\r\n"):
        faults.append("%s does not end with CRLF" % name)
    return text.replace("\r\n", "\n")


def marked(heading, level, japanese):
    """A heading's lines in a text guide: 【title】 and "■ section" in
    Japanese, in English underlined with "=" for the title, "-" for a section."""
    if japanese:
        return ["【%s】" % heading if level == 1 else "■ " + heading]
    return [heading, ("=" if level == 1 else "-") * len(heading)]


# Notepad shows README-ja.txt unwrapped: lines of at most 76 bytes of code
# page 932, laid out by the kinsoku rules of Japanese text.
JAPANESE_WIDTH = 76
NO_LINE_START = "。、，．」』）】〕！？ー・ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶ"
NO_LINE_END = "「『（【〔"


def japanese_lines(name, text, codes):
    """Every line fits, but one that holds nothing but a word wider than the
    line, or a piece of code (a box's text) wider than the line in its
    brackets; none begins with a closing mark or a small kana, or ends with an
    opening mark."""
    for line in text.splitlines():
        body = line.lstrip(" ")
        width = len(line.encode("cp932", errors="replace"))
        if width > JAPANESE_WIDTH and body.removeprefix("「").removesuffix("」") not in codes:
            words = re.findall(r"[!-~]+", body)
            indent = len(line) - len(body)
            if " " in body or not any(indent + len(word) > JAPANESE_WIDTH for word in words):
                faults.append("%s has a line of %d bytes: %r" % (name, width, line))
        if body.startswith(tuple(NO_LINE_START)):
            faults.append("%s has a line that begins with %r: %r" % (name, body[0], line))
        if body.endswith(tuple(NO_LINE_END)):
            faults.append("%s has a line that ends with %r: %r" % (name, body[-1], line))


# Words that a line break must not split: ASCII ones, and in Japanese
# katakana ones, whose halves Notepad's search would not find.
WORD_RUNS = [re.compile(r"[!-~]+"), re.compile(r"[\u30a1-\u30fa\u30fc\uff66-\uff9f]+")]


def unsplit_words(name, text, source):
    """No line break stands inside a word: where a line ends in a word's
    characters and the next begins with more of the same kind, the two joined
    must not be a word of the source."""
    lines = text.splitlines()
    for line, following in zip(lines, lines[1:]):
        for run in WORD_RUNS:
            ends = [match for match in run.finditer(line) if match.end() == len(line)]
            start = run.match(following.lstrip(" "))
            if ends and start and ends[0].group() + start.group() in source:
                faults.append("%s breaks the word %r across lines: %r / %r"
                              % (name, ends[0].group() + start.group(), line, following))


# What a reader of the text guides can neither see nor check: the emulator
# that the tests run under, the tests themselves, and the source's files.
HIDDEN = [(re.compile(r"\bWine\b", re.I), "Wine"),
          (re.compile(r"\b(?:launcher|tests|resources|scripts|docs|cmake|bench)[/\\]"), "a source path"),
          (re.compile(r"\b\w+\.(?:md|cpp|h|py|lua|rc|cmake)\b"), "a source file"),
          (re.compile(r"github|test row|e2e", re.I), "the tests or the project's site")]


def hidden_things(name, text):
    """Neither Wine, nor a test row, nor a source path or file."""
    for pattern, what in HIDDEN:
        for match in pattern.finditer(text):
            faults.append("%s names %s: %r" % (name, what, match.group()))
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    import cases
    for case in cases.CASES:
        if re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(case.name), text) and len(case.name.split()) > 3:
            faults.append("%s names the test row %s/%s" % (name, case.group, case.name))


# The quick start's heading in each guide: its steps end within the first
# lines that Notepad shows, and are few. Only the short opening and Install,
# whose numbered steps check the download and make the folder that only its
# user can change, stand before it.
QUICK_START = {"docs/GUIDE.md": "Quick start", "docs/GUIDE.ja.md": "使い方"}
QUICK_START_LINES = 150
QUICK_START_STEPS = 10


def code_lines(guide):
    """The lines of the guide's blocks of code, without the indent that a
    block in a list has in the Markdown."""
    lines = set()
    for indent, body in re.findall(r"^( *)```[^\n]*\n(.*?)^ *```", guide, re.M | re.S):
        lines |= {line[len(indent):] for line in body.splitlines() if line.strip()}
    return lines


def flush_code(name, lines, code):
    """Every line of a block of code stands whole at the start of a line of
    the text, so that it pastes from Notepad without blanks in front."""
    for line in sorted(code - set(lines)):
        faults.append("%s lacks the code line %r at a line's start" % (name, line))


def quick_start(name, lines, readme, japanese, code=frozenset()):
    heading = next((at for at, line in enumerate(lines)
                    if line.removeprefix("■ ").startswith(QUICK_START[readme])
                    and (japanese or lines[at + 1].startswith("---"))), None)
    if heading is None:
        faults.append("%s has no quick start" % name)
        return
    steps, end = 0, heading
    for at in range(heading + 1, len(lines)):
        if re.match(r"\d+\.\s", lines[at]):
            steps, end = steps + 1, at
        elif steps and lines[at] and not lines[at].startswith(" ") and lines[at] not in code:
            break
        elif steps and lines[at]:
            end = at
    if end + 1 > QUICK_START_LINES:
        faults.append("%s ends its quick start on line %d, after the first %d" % (name, end + 1, QUICK_START_LINES))
    if not 0 < steps <= QUICK_START_STEPS:
        faults.append("%s has a quick start of %d steps" % (name, steps))


def whole(cell, text):
    """The cell is in the text, where a line break with the next line's
    indent may stand between two of its characters or in place of a blank."""
    pattern = r"(?:\n *)?".join(r"(?: |\n *)" if char == " " else re.escape(char) for char in cell)
    return re.search(pattern, text) is not None


def guide_member(name, text, readme, japanese=False):
    """A guide as text: the guide's part of the README, every section of it,
    each heading marked; in Japanese, every line laid out for Notepad and
    every table cell, the box texts among them, whole across line breaks."""
    guide, developers = (ROOT / readme).read_text(encoding="utf-8").split(MARKER + "\n")
    if MARKER in text or "<!--" in text:
        faults.append("%s holds the marker" % name)
    lines = text.splitlines()
    for heading in re.findall(r"^#+\s+(.*?)\s*$", developers, re.M):
        if any(heading in line for line in lines):
            faults.append("%s holds the developers' heading %r" % (name, heading))
    # The title and every section, marked: a conversion that drops one fails.
    prose = re.sub(r"^ *```.*?^ *```", "", guide, flags=re.M | re.S)
    for hashes, heading in re.findall(r"^(##?)\s+(.*?)\s*$", prose, re.M):
        mark = marked(heading.replace("`", ""), len(hashes), japanese)
        if not any(lines[at:at + len(mark)] == mark for at in range(len(lines))):
            faults.append("%s lacks the heading %r marked as %r" % (name, heading, mark))
    hidden_things(name, text)
    code = code_lines(guide)
    flush_code(name, lines, code)
    quick_start(name, lines, readme, japanese, code)
    codes = set(re.findall(r"`([^`\n]+)`", prose))
    # A box's text, as code in the table of boxes (a box that no public
    # record quotes is described there in words), is whole on one line
    # wherever the guide gives it, so that Notepad's search finds each.
    for box in re.findall(r"^\| `([^`|]+)` \|.*\| `\d+` \|$", prose, re.M):
        if sum(line.count(box) for line in lines) < prose.replace("`", "").count(box):
            faults.append("%s splits the box text %r across lines" % (name, box))
    if japanese:
        # A command line of a block of code is pasted whole: it may be wider.
        japanese_lines(name, text, codes | code)
        unsplit_words(name, text, prose.replace("`", ""))
        # A path, a command or an address is never split across lines.
        for code in codes | set(re.findall(r"<(https?://[^>\s]+)>", prose)):
            if not any(code in line for line in lines):
                faults.append("%s splits %r across lines" % (name, code))
        for cell in re.findall(r"(?<=\| )[^|\n]*?(?= \|)", prose):
            cell = cell.replace("`", "")
            if cell and not re.fullmatch(r"-+", cell) and not whole(cell, text):
                faults.append("%s lacks the table cell %r" % (name, cell))
    if any(line != line.rstrip() for line in lines):
        faults.append("%s has trailing blanks" % name)


def check_package(exe, work):
    shutil.rmtree(work, ignore_errors=True)
    first = pack(exe, work / "a")
    # Again from a copy with another date and mode: neither may reach the zip.
    copy = work / "b-input" / "QuendRun.exe"
    copy.parent.mkdir(parents=True)
    shutil.copyfile(exe, copy)
    os.chmod(copy, 0o600)
    os.utime(copy, (1e9, 1e9))
    second = pack(copy, work / "b")
    if first.read_bytes() != second.read_bytes():
        faults.append("two packings differ: %s %s" % (first, second))

    version = re.search(r"FILEVERSION\s+(\d+), (\d+), (\d+), (\d+)",
                        (ROOT / "resources" / "QuendRun.rc").read_text()).groups()
    expect("zip name", first.name, "QuendRun-%s-win32.zip" % ".".join(version))
    digest = hashlib.sha256(first.read_bytes()).hexdigest()
    expect(".sha256", (first.parent / (first.name + ".sha256")).read_text(), "%s  %s\n" % (digest, first.name))

    with zipfile.ZipFile(first) as archive:
        expect("members", archive.namelist(), MEMBERS)
        data = {name: archive.read(name) for name in archive.namelist()}
    if data.get("QuendRun.exe") != exe.read_bytes():
        faults.append("QuendRun.exe in the zip is not the product's bytes")

    guide_member("README.txt", text_member("README.txt", data.get("README.txt", b"")), "docs/GUIDE.md")
    guide_member("README-ja.txt", text_member("README-ja.txt", data.get("README-ja.txt", b""), "cp932"),
                 "docs/GUIDE.ja.md", japanese=True)

    ini = data.get("QuendRun.ini", b"")
    parser = configparser.ConfigParser(delimiters="=", comment_prefixes=";", interpolation=None)
    parser.optionxform = str
    parser.read_string(text_member("QuendRun.ini", ini))
    expect("QuendRun.ini settings", {name: dict(parser[name]) for name in parser.sections()}, SETTINGS)

    license_text = text_member("LICENSE.txt", data.get("LICENSE.txt", b""))
    expect("LICENSE.txt", license_text, (ROOT / "LICENSE").read_text())


def check_signed(exe, work):
    if not shutil.which("osslsigncode"):
        print("osslsigncode is not installed: skipped")
        return SKIPPED
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    cert, key, pfx = work / "cert.pem", work / "key.pem", work / "signer.pfx"
    quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=QuendRun test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", str(key), "-out", str(cert)], **quiet)
    # OpenSSL 3's default algorithms, named so that another default can't
    # make a file that osslsigncode cannot read.
    subprocess.run(["openssl", "pkcs12", "-export", "-in", str(cert), "-inkey", str(key), "-out", str(pfx),
                    "-certpbe", "AES-256-CBC", "-keypbe", "AES-256-CBC", "-macalg", "sha256",
                    "-passout", "pass:throwaway secret"], **quiet)
    before = exe.read_bytes()
    zip_path = pack(exe, work / "out", QUENDRUN_SIGN_PFX=str(pfx), QUENDRUN_SIGN_PASSWORD="throwaway secret")
    signed = work / "QuendRun.exe"
    with zipfile.ZipFile(zip_path) as archive:
        signed.write_bytes(archive.read("QuendRun.exe"))
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(signed)],
                            capture_output=True, text=True)
    if result.returncode != 0:
        faults.append("the signature does not verify:\n" + result.stdout + result.stderr)
    if not re.search(r"^Message digest algorithm\s*:\s*SHA256\s*$", result.stdout, re.M):
        faults.append("the signature's digest is not SHA-256")

    expect("product bytes after signing", exe.read_bytes() == before, True)
    security = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    expect("product signature size", pefile.PE(str(exe), fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[security].Size, 0)
    return None


def main(mode, exe, work):
    exe, work = pathlib.Path(exe).resolve(), pathlib.Path(work).resolve()
    status = {"package": check_package, "signed": check_signed}[mode](exe, work)
    if status == SKIPPED:
        return SKIPPED
    for fault in faults:
        print("FAIL " + fault)
    print("%s: %s" % (mode, "%d faults" % len(faults) if faults else "ok"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
