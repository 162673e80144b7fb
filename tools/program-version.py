#!/usr/bin/env python3
"""The version a Windows program carries, read from its own resources with wrestool (icoutils):
the fixed part of its version record is what Windows Installer compares when it decides whether
to replace an installed copy, so that is what the packages are checked against.

    program-version.py EXE                  prints "FILE PRODUCT MANIFEST": the file and product
                                            versions of the version record and the manifest's
                                            assemblyIdentity version, "-" for one EXE lacks
    program-version.py EXE --stamp VERSION  writes VERSION into both versions of EXE's record,
                                            for a stand-in of an earlier release
"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

FIXED_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
RT_VERSION, RT_MANIFEST = 16, 24
ASSEMBLY = "{urn:schemas-microsoft-com:asm.v1}"


def fail(message):
    sys.exit(f"program-version: {message}")


def resource(exe, resource_type):
    """The bytes of the program's first resource of the type, empty if it has none."""
    return subprocess.run(["wrestool", "-x", "--raw", f"--type={resource_type}", exe],
                          capture_output=True).stdout


def fixed_info(exe, record):
    """Where the VS_FIXEDFILEINFO lies in the record: it follows its signature."""
    if record.count(FIXED_INFO_SIGNATURE) != 1:
        fail(f"{exe}: the version record has no single fixed part")
    return record.index(FIXED_INFO_SIGNATURE)


def text_of(most, least):
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


def manifest_version(exe):
    manifest = resource(exe, RT_MANIFEST)
    if not manifest:
        return "-"
    identity = ElementTree.fromstring(manifest).find(f"{ASSEMBLY}assemblyIdentity")
    return identity.get("version", "-") if identity is not None else "-"


def read(exe):
    record = resource(exe, RT_VERSION)
    if not record:
        return f"- - {manifest_version(exe)}"
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", record, fixed_info(exe, record) + 8)
    return f"{text_of(file_ms, file_ls)} {text_of(product_ms, product_ls)} {manifest_version(exe)}"


def stamp(exe, version):
    parts = version.split(".")
    fields = [int(part) for part in parts] + [0] * (4 - len(parts))
    if any(field > 0xFFFF for field in fields):
        fail(f"not a version of fields up to 65535: {version}")
    most, least = fields[0] << 16 | fields[1], fields[2] << 16 | fields[3]
    record = resource(exe, RT_VERSION)
    with open(exe, "r+b") as file:
        data = file.read()
        if not record or data.count(record) != 1:
            fail(f"{exe} has no version record to stamp")
        file.seek(data.index(record) + fixed_info(exe, record) + 8)
        file.write(struct.pack("<4I", most, least, most, least))


def main(args):
    if len(args) == 1:
        print(read(args[0]))
    elif len(args) == 3 and args[1] == "--stamp" and re.fullmatch(r"[0-9]+(\.[0-9]+){0,3}", args[2]):
        stamp(args[0], args[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
