#!/usr/bin/env python3
"""Checks the product QuendRun.exe field by field: PE headers, imports, the
version resource, its only resource, and what its code may not do.

    check_pe.py EXE OBJDUMP
"""
import re
import shutil
import struct
import subprocess
import sys

import pefile

IMAGE_FILE_MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE, NX_COMPAT, NO_SEH = 0x40, 0x100, 0x400
RT_VERSION = 16
MAX_SIZE = 17 * 1024

# Every import, each of which Windows XP has: a new one fails until it is
# checked and listed. The launcher's own are ANSI but GetCommandLineW, read
# to tell whether the ANSI command line is exact and shown when it is not, and
# the box's FormatMessageW, MessageBoxW and MultiByteToWideChar, which show its
# text in any display language; the rest are the C
# runtime's start-up and the stack guard's (libssp: its seed from ADVAPI32,
# its report of a smashed stack through _open, _write and _exit).
IMPORTS = {
    "advapi32.dll": ["CryptAcquireContextA", "CryptGenRandom", "CryptReleaseContext"],
    "kernel32.dll": ["CreateProcessA", "DeleteCriticalSection", "EnterCriticalSection", "FormatMessageW",
                     "FreeLibrary", "GetACP", "GetCPInfo", "GetCommandLineA", "GetCommandLineW", "GetLastError",
                     "GetModuleHandleA", "GetPrivateProfileStringA", "GetProcAddress", "GetStartupInfoA",
                     "InitializeCriticalSection", "LeaveCriticalSection", "LoadLibraryA", "LocalFree",
                     "MultiByteToWideChar", "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue", "VirtualProtect",
                     "VirtualQuery", "WideCharToMultiByte"],
    "msvcrt.dll": ["__getmainargs", "__initenv", "__p__acmdln", "__p__commode", "__p__fmode", "__set_app_type",
                   "__setusermatherr", "_amsg_exit", "_cexit", "_close", "_exit", "_initterm", "_iob", "_onexit",
                   "_open", "_write", "abort", "calloc", "exit", "fprintf", "free", "fwrite", "malloc",
                   "memcpy", "signal", "strlen", "strncmp", "vfprintf"],
    "shell32.dll": ["FindExecutableA"],
    "user32.dll": ["MessageBoxW"],
}
# Where the stack guard gets its seed: linked only when code reads the guard.
GUARD_SEED = ("advapi32.dll", "CryptGenRandom")
# The head of the SEH chain: code that reads or writes it registers a handler,
# which an image marked NO_SEH must never call.
SEH_CHAIN = re.compile(r"%fs:0x0+\b|%fs:0\b(?!x)")
STRINGS = [("Comments", ""), ("CompanyName", None), ("FileDescription", "QuendRun"),
           ("FileVersion", "1, 0, 0, 1"), ("InternalName", "QuendRun"), ("LegalCopyright", None),
           ("LegalTrademarks", ""), ("OriginalFilename", "QuendRun.exe"), ("PrivateBuild", "2002/4/6"),
           ("ProductName", None), ("ProductVersion", "1, 0, 0, 1"), ("SpecialBuild", "")]
# Signature, structure version, file and product versions, flags mask, flags,
# OS, type, subtype, date.
FIXED = (0xFEEF04BD, None, 0x00010000, 0x00000001, 0x00010000, 0x00000001, 0x3F, 0x8,
         0x40004, 1, 0, 0, 0)

faults = []


def expect(what, got, wanted):
    if got != wanted:
        faults.append("%s: %r, expected %r" % (what, got, wanted))


def align(offset):
    return (offset + 3) & ~3


def version_node(data, at):
    """One node of a version resource: (key, value bytes, children)."""
    length, value_length, text = struct.unpack_from("<HHH", data, at)
    end = at + 6
    while data[end:end + 2] != b"\0\0":
        end += 2
    key = data[at + 6:end].decode("utf-16-le")
    value_at = align(end + 2)
    value = data[value_at:value_at + value_length * (2 if text else 1)]
    children, child = [], align(value_at + len(value))
    while child < at + length:
        children.append(version_node(data, child))
        child = align(child + struct.unpack_from("<H", data, child)[0])
    return key, value, children


def check_version(pe):
    entries = pe.DIRECTORY_ENTRY_RESOURCE.entries
    expect("resource types", [e.id for e in entries], [RT_VERSION])
    names = entries[0].directory.entries
    expect("version resource ids", [e.id for e in names], [1])
    languages = names[0].directory.entries
    expect("version resource languages", [e.id for e in languages], [0x411])
    data_entry = languages[0].data.struct
    data = pe.get_data(data_entry.OffsetToData, data_entry.Size)

    key, fixed, children = version_node(data, 0)
    expect("version key", key, "VS_VERSION_INFO")
    got = struct.unpack("<13I", fixed)
    for index, wanted in enumerate(FIXED):
        if wanted is not None:
            expect("fixed part field %d" % index, got[index], wanted)
    blocks = {name: kids for name, _, kids in children}
    expect("version blocks", [name for name, _, _ in children], ["StringFileInfo", "VarFileInfo"])
    tables = blocks.get("StringFileInfo", [])
    expect("string tables", [name.upper() for name, _, _ in tables], ["041104B0"])
    if tables:
        strings = [(name, value.decode("utf-16-le").rstrip("\0")) for name, value, _ in tables[0][2]]
        expect("string keys", [name for name, _ in strings], [name for name, _ in STRINGS])
        for (name, value), (_, wanted) in zip(strings, STRINGS):
            if wanted is not None:
                expect(name, value, wanted)
            elif not value:
                faults.append("%s is empty" % name)
    translations = [(name, value) for name, value, _ in blocks.get("VarFileInfo", [])]
    expect("translation", translations, [("Translation", struct.pack("<HH", 0x411, 1200))])


def check_code(path, objdump):
    """The code never touches the SEH chain; pesec's view, when installed."""
    listing = subprocess.run([objdump, "-d", path], check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        if SEH_CHAIN.search(line):
            faults.append("the code touches the SEH chain: " + line.strip())
    if shutil.which("pesec"):
        print(subprocess.run(["pesec", path], capture_output=True, text=True).stdout.rstrip())


def main(path, objdump):
    with open(path, "rb") as file:
        image = file.read()
    if len(image) > MAX_SIZE:
        faults.append("size %d bytes, more than %d" % (len(image), MAX_SIZE))
    pe = pefile.PE(data=image)
    expect("machine", pe.FILE_HEADER.Machine, IMAGE_FILE_MACHINE_I386)
    expect("optional header magic", pe.OPTIONAL_HEADER.Magic, PE32_MAGIC)
    expect("subsystem", pe.OPTIONAL_HEADER.Subsystem, SUBSYSTEM_WINDOWS_GUI)
    version = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    if version not in [(4, 0), (5, 1)]:
        faults.append("subsystem version %d.%d, expected 4.0 or 5.1" % version)
    flags = pe.OPTIONAL_HEADER.DllCharacteristics & (DYNAMIC_BASE | NX_COMPAT | NO_SEH)
    expect("ASLR, DEP and no-SEH flags", hex(flags), hex(DYNAMIC_BASE | NX_COMPAT | NO_SEH))
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if relocations.Size == 0 or b".reloc" not in [s.Name.rstrip(b"\0") for s in pe.sections]:
        faults.append("no relocations")

    imports = {entry.dll.decode().lower(): sorted(i.name.decode() for i in entry.imports if i.name)
               for entry in pe.DIRECTORY_ENTRY_IMPORT}
    expect("imported DLLs", sorted(imports), sorted(IMPORTS))
    for dll, functions in sorted(IMPORTS.items()):
        expect("imports of " + dll, imports.get(dll), sorted(functions))
    if GUARD_SEED[1] not in imports.get(GUARD_SEED[0], []):
        faults.append("no stack guard: its seed, %s of %s, is not imported" % (GUARD_SEED[1], GUARD_SEED[0]))
    check_version(pe)
    check_code(path, objdump)

    for fault in faults:
        print("FAIL " + fault)
    print("%s: %d bytes, imports %s" % (path, len(image), ", ".join(sorted(imports))))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
