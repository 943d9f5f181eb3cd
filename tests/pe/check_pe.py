#!/usr/bin/env python3
"""Checks the product QuendRun.exe field by field: PE headers, imports, the
load configuration, the version resource, its only resource, and what its
code may not do.

    check_pe.py EXE MAP OBJDUMP
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
# One 512-byte step more than the 17 KiB before the settings name and the batch
# line were checked and built.
MAX_SIZE = 17 * 1024 + 512

# Every import, each of which Windows XP has: a new one fails until it is
# checked and listed. The launcher's own are ANSI but GetCommandLineW, read
# to tell whether the ANSI command line is exact and shown when it is not, and
# the box's FormatMessageW, MessageBoxW and MultiByteToWideChar, which show its
# text in any display language, and the window that takes the start-up show
# command before the box (CreateWindowExW, ShowWindow, DestroyWindow), the
# system folder that a batch file's cmd.exe is started from; the
# rest are the C runtime's start-up and the
# stack guard's: its seed, from what differs between processes through KERNEL32
# alone, and its end of a process whose stack was smashed.
IMPORTS = {
    "kernel32.dll": ["CreateProcessA", "DeleteCriticalSection", "EnterCriticalSection", "FormatMessageW",
                     "FreeLibrary", "GetACP", "GetCPInfo", "GetCommandLineA", "GetCommandLineW",
                     "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThreadId", "GetLastError",
                     "GetModuleHandleA", "GetPrivateProfileStringA", "GetProcAddress", "GetStartupInfoA", "GetSystemDirectoryA",
                     "GetSystemTimeAsFileTime", "GetTickCount", "InitializeCriticalSection",
                     "IsProcessorFeaturePresent", "LeaveCriticalSection", "LoadLibraryA", "LocalFree",
                     "MultiByteToWideChar", "QueryPerformanceCounter", "SetUnhandledExceptionFilter", "Sleep",
                     "TerminateProcess", "TlsGetValue", "VirtualProtect", "VirtualQuery", "WideCharToMultiByte"],
    "msvcrt.dll": ["__getmainargs", "__initenv", "__p__acmdln", "__p__commode", "__p__fmode", "__set_app_type",
                   "__setusermatherr", "_amsg_exit", "_cexit", "_initterm", "_iob", "_onexit", "abort", "calloc",
                   "exit", "fprintf", "free", "fwrite", "malloc", "memcpy", "signal", "strlen", "strncmp",
                   "vfprintf"],
    "shell32.dll": ["FindExecutableA"],
    "user32.dll": ["CreateWindowExW", "DestroyWindow", "MessageBoxW", "ShowWindow"],
}
# Every imported DLL is a known DLL, which Windows maps from System32 whatever
# the search order, for the imports that the loader resolves (Microsoft KB
# 164501, "Windows NT/2000/XP Uses KnownDLLs Registry Entry to Find DLLs").
# KERNEL32, USER32 and SHELL32 are on the default list of KB 102985; msvcrt is
# not on that list, and no public record of Windows XP's own list was found.
# ADVAPI32 is on it too, but it hands RtlGenRandom on to cryptbase.dll, which
# is not, and which the loader then looks for in the launcher's folder.
KNOWN_DLLS = ["kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"]
# The load configuration, launcher/LoadConfig.cpp: laid out up to
# SEHandlerCount, and its data directory 64 bytes long, what Windows XP's
# loader takes, which still holds DependentLoadFlags at offset 54.
LOAD_CONFIG_SIZE, LOAD_CONFIG_DIRECTORY_SIZE, DEPENDENT_LOAD_FLAGS_END = 72, 64, 56
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
# The entry function, and the guard that it must read and the failure path
# that it must call, as the link map names them.
ENTRY, GUARD, GUARD_FAIL = "WinMain@16", "__stack_chk_guard", "__stack_chk_fail"
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


def check_load_config(pe):
    """The load configuration field by field: its sizes, DependentLoadFlags
    (Reserved1 in older names) and no SafeSEH table; every other field 0."""
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    expect("load configuration directory size", directory.Size, LOAD_CONFIG_DIRECTORY_SIZE)
    if directory.Size < DEPENDENT_LOAD_FLAGS_END or not hasattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG"):
        faults.append("no load configuration that holds DependentLoadFlags")
        return
    config = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    fields = {name[0]: getattr(config, name[0]) for name in config.__keys__}
    flags = fields.pop("DependentLoadFlags", None)
    flags = fields.pop("Reserved1", flags)
    expect("load configuration size", fields.pop("Size"), LOAD_CONFIG_SIZE)
    expect("DependentLoadFlags", flags, LOAD_LIBRARY_SEARCH_SYSTEM32)
    expect("SafeSEH table and count", (fields.pop("SEHandlerTable"), fields.pop("SEHandlerCount")), (0, 0))
    expect("other load configuration fields", {name: value for name, value in fields.items() if value}, {})


def map_symbols(map_path):
    """{name: address} of the symbols that the link map places in the image."""
    symbols = {}
    for line in open(map_path, encoding="utf-8", errors="replace"):
        match = re.fullmatch(r"\s+0x([0-9a-f]{8,16})\s+([^.\s].*?)\s*", line)
        if match:
            symbols[match.group(2)] = int(match.group(1), 16)
    return symbols


def check_guard(listing, symbols):
    """The entry function reads the stack guard and calls its failure path:
    the compiler guarded it. The map gives the addresses; the product's own
    code, stripped of names, is read between the entry and the next symbol."""
    missing = [name for name in (ENTRY, GUARD, GUARD_FAIL) if name not in symbols]
    if missing:
        faults.append("the link map does not place %s" % ", ".join(missing))
        return
    entry = symbols[ENTRY]
    end = min([address for address in symbols.values() if address > entry], default=entry)
    reads = calls = False
    for line in listing.splitlines():
        match = re.match(r"\s*([0-9a-f]+):\t[0-9a-f ]+\t(.*)", line)
        if match and entry <= int(match.group(1), 16) < end:
            instruction = match.group(2)
            reads = reads or "0x%x" % symbols[GUARD] in instruction
            calls = calls or re.match(r"call\s+(0x)?%x\b" % symbols[GUARD_FAIL], instruction) is not None
    if not (reads and calls):
        faults.append("no stack guard in the entry function: it %s %s and %s %s" %
                      ("reads" if reads else "does not read", GUARD,
                       "calls" if calls else "does not call", GUARD_FAIL))


def check_code(path, map_path, objdump):
    """The code never touches the SEH chain, and the entry function is
    guarded; pesec's view, when installed (its line on stack cookies looks for
    another compiler's prologue, and proves nothing either way)."""
    listing = subprocess.run([objdump, "-d", path], check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        if SEH_CHAIN.search(line):
            faults.append("the code touches the SEH chain: " + line.strip())
    check_guard(listing, map_symbols(map_path))
    if shutil.which("pesec"):
        print(subprocess.run(["pesec", path], capture_output=True, text=True).stdout.rstrip())


def main(path, map_path, objdump):
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
    expect("imported DLLs that are not known DLLs", sorted(set(imports) - set(KNOWN_DLLS)), [])
    check_load_config(pe)
    check_version(pe)
    check_code(path, map_path, objdump)

    for fault in faults:
        print("FAIL " + fault)
    print("%s: %d bytes, imports %s" % (path, len(image), ", ".join(sorted(imports))))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
