#!/usr/bin/env python3
"""Points a linked image's load configuration directory at _load_config_used
(launcher/LoadConfig.cpp), and sets the image's checksum again.

GNU ld 2.40 links the structure but leaves the directory empty: only later
versions of ld fill it in, from the structure's first field. The directory's
size is 64 in a 32-bit image, what Windows XP's loader requires, and the
structure's own size in a 64-bit one.

    set_load_config.py EXE MAP
"""
import re
import struct
import sys

PE32_MAGIC = 0x10B
LOAD_CONFIG = 10   # its index among the data directories
XP_SIZE = 64       # what Windows XP takes as a 32-bit image's directory size


def symbol_address(map_path, name):
    """The address that the link map gives the symbol (its leading underscore
    on i386 left out or not)."""
    pattern = re.compile(r"\s+0x([0-9a-f]{8,16})\s+_?%s\s*" % re.escape(name))
    for line in open(map_path, encoding="utf-8", errors="replace"):
        match = pattern.fullmatch(line)
        if match:
            return int(match.group(1), 16)
    sys.exit("%s: the link map does not place %s" % (map_path, name))


def file_offset(image, headers, rva):
    """Where the byte at an image address is in the file."""
    sections_at, count = headers
    for at in range(sections_at, sections_at + 40 * count, 40):
        virtual_size, address, raw_size, raw_at = struct.unpack_from("<4I", image, at + 8)
        if address <= rva < address + min(virtual_size, raw_size):
            return raw_at + rva - address
    sys.exit("address 0x%x is in no section of the file" % rva)


def checksum(image, field):
    """The PE checksum: the image's 16-bit words summed with their carries,
    its own field counted as 0, plus the file's length."""
    data = image[:field] + b"\0\0\0\0" + image[field + 4:]
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(image)


def main(exe, map_path):
    with open(exe, "rb") as file:
        image = bytearray(file.read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    image_base = struct.unpack_from("<I" if magic == PE32_MAGIC else "<Q", image,
                                    optional + (28 if magic == PE32_MAGIC else 24))[0]
    directories = optional + (96 if magic == PE32_MAGIC else 112)

    rva = symbol_address(map_path, "_load_config_used") - image_base
    own_size = struct.unpack_from("<I", image, file_offset(image, (optional + optional_size, count), rva))[0]
    size = XP_SIZE if magic == PE32_MAGIC else own_size
    struct.pack_into("<II", image, directories + 8 * LOAD_CONFIG, rva, size)
    field = optional + 64
    struct.pack_into("<I", image, field, checksum(image, field))
    with open(exe, "wb") as file:
        file.write(image)


if __name__ == "__main__":
    main(*sys.argv[1:])
