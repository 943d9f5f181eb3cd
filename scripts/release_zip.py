#!/usr/bin/env python3
"""Packs the release zip of a built QuendRun.exe, and its SHA-256 line.

    python3 scripts/release_zip.py EXE OUTDIR

Writes OUTDIR/QuendRun-<version>-win32.zip, the version being FILEVERSION of
resources/QuendRun.rc, holding QuendRun.exe, QuendRun.ini, README.txt and
LICENSE.txt, and beside it the zip's .sha256 as sha256sum prints it. The same
inputs give the same bytes: fixed order, dates and attributes.

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
sys.path.insert(0, str(ROOT / "scripts"))
import readme_txt  # noqa: E402

DATE = (2026, 1, 1, 0, 0, 0)   # every member's date, so that builds compare equal
FILE_ATTRIBUTE_ARCHIVE = 0x20


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
    try:
        readme = readme_txt.convert((ROOT / "README.md").read_text(encoding="utf-8"))
    except readme_txt.Failure as failure:
        sys.exit("release_zip: %s" % failure)
    with tempfile.TemporaryDirectory() as work:
        members = [("QuendRun.exe", signed(exe, pathlib.Path(work))),
                   ("QuendRun.ini", sample_settings()),
                   ("README.txt", readme),
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
