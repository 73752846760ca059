#!/usr/bin/env python3
"""Reads back, from the built program's resource directory, what Windows
expects of it, and fails (exit 1) on anything missing or wrong:

- the version resource (type 16, id 1): fixed file and product version
  1.0.0.0 and the strings of version.h, LegalCopyright the window's notice
  line, which names the maker;
- the manifest (type 24, id 1): well-formed XML that asks for administrator
  rights in the asm.v2 namespace Windows XP tolerates, names every Windows
  from Vista to 10 as supported, and depends on no version of the common
  controls;
- icon 128 is the first icon group, the one Explorer shows.

    check_resources.py <CleanPhantaxis.exe> <version.h>
"""
import re
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V2 = "urn:schemas-microsoft-com:asm.v2"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10",
}


class Bad(Exception):
    pass


class Image:
    """The parts of a PE file this check reads; every read is bounds-checked."""

    def __init__(self, data):
        self.data = data
        pe = self.u32(0x3C)
        if self.take(pe, 4) != b"PE\0\0":
            raise Bad("no PE signature")
        self.machine = self.u16(pe + 4)
        sections = self.u16(pe + 6)
        optional_size = self.u16(pe + 20)
        oh = pe + 24
        magic = self.u16(oh)
        if magic not in (0x10B, 0x20B):
            raise Bad("unknown optional header magic %#x" % magic)
        directories = oh + (96 if magic == 0x10B else 112)
        if self.u32(directories - 4) <= 2:
            raise Bad("no resource directory entry")
        self.rsrc_rva, self.rsrc_size = struct.unpack("<II", self.take(directories + 2 * 8, 8))
        self.sections = []
        table = oh + optional_size
        for i in range(sections):
            at = table + 40 * i
            vsize, va, raw_size, raw_ptr = struct.unpack("<IIII", self.take(at + 8, 16))
            self.sections.append((va, max(vsize, raw_size), raw_ptr, raw_size))
        if not self.rsrc_rva:
            raise Bad("the program has no resources")
        self.rsrc = self.file_offset(self.rsrc_rva, self.rsrc_size)

    def take(self, offset, size):
        if offset < 0 or size > len(self.data) or offset > len(self.data) - size:
            raise Bad("read of %d bytes at %#x lies outside the file" % (size, offset))
        return self.data[offset:offset + size]

    def u16(self, offset):
        return struct.unpack("<H", self.take(offset, 2))[0]

    def u32(self, offset):
        return struct.unpack("<I", self.take(offset, 4))[0]

    def file_offset(self, rva, size):
        for va, vsize, raw_ptr, raw_size in self.sections:
            if va <= rva and size <= raw_size and rva - va <= raw_size - size:
                return raw_ptr + (rva - va)
        raise Bad("RVA %#x (+%d) is in no section's file data" % (rva, size))

    def directory(self, offset):
        """Entries of one resource directory: (id or name, is_dir, target offset)."""
        named, numbered = struct.unpack("<HH", self.take(self.rsrc + offset + 12, 4))
        entries = []
        for i in range(named + numbered):
            key, target = struct.unpack("<II", self.take(self.rsrc + offset + 16 + 8 * i, 8))
            if key & 0x80000000:
                at = self.rsrc + (key & 0x7FFFFFFF)
                length = self.u16(at)
                key = self.take(at + 2, 2 * length).decode("utf-16-le")
            entries.append((key, bool(target & 0x80000000), target & 0x7FFFFFFF))
        return entries

    def resources(self, rtype):
        """{id: [bytes of each language]} of one resource type."""
        found = {}
        for key, is_dir, target in self.directory(0):
            if key != rtype:
                continue
            if not is_dir:
                raise Bad("type %s is not a directory" % rtype)
            for name, name_dir, languages in self.directory(target):
                if not name_dir:
                    raise Bad("resource %s/%s is not a directory" % (rtype, name))
                for _, leaf_dir, leaf in self.directory(languages):
                    if leaf_dir:
                        raise Bad("resource %s/%s nests too deep" % (rtype, name))
                    rva, size = struct.unpack("<II", self.take(self.rsrc + leaf, 8))
                    found.setdefault(name, []).append(self.take(self.file_offset(rva, size), size))
        return found


def version_strings(block):
    """The fixed file info and the strings of a VS_VERSIONINFO block."""

    def node(at, end):
        length, value_length, kind = struct.unpack("<HHH", block[at:at + 6])
        if length < 6 or at + length > end:
            raise Bad("version block node at %#x has length %d" % (at, length))
        key_end = block.index(b"\0\0", at + 6)
        while (key_end - at - 6) % 2:
            key_end = block.index(b"\0\0", key_end + 1)
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + size]
        children = []
        child = (value_at + size + 3) & ~3
        while child < at + length:
            sub = node(child, at + length)
            children.append(sub)
            child = (child + sub[3] + 3) & ~3
        return key, value, children, length

    key, fixed, children, _ = node(0, len(block))
    if key != "VS_VERSION_INFO":
        raise Bad("version resource key is %r" % key)
    if len(fixed) < 52 or struct.unpack("<I", fixed[:4])[0] != 0xFEEF04BD:
        raise Bad("version resource has no VS_FIXEDFILEINFO")
    strings, translations = {}, []
    for child_key, _, grandchildren, _ in children:
        for table_key, value, entries, _ in grandchildren:
            if child_key == "StringFileInfo":
                for name, text, _, _ in entries:
                    strings[(table_key, name)] = text.decode("utf-16-le").rstrip("\0")
            elif child_key == "VarFileInfo" and table_key == "Translation":
                translations += [struct.unpack("<HH", value[i:i + 4]) for i in range(0, len(value), 4)]
    return fixed, strings, translations


def check_version(image, header, failures):
    blocks = image.resources(RT_VERSION)
    if list(blocks) != [1] or len(blocks[1]) != 1:
        failures.append("one version resource, id 1 (found %s)" % list(blocks))
        return
    fixed, strings, translations = version_strings(blocks[1][0])
    file_ms, file_ls, product_ms, product_ls = struct.unpack("<IIII", fixed[8:24])
    if (file_ms, file_ls) != (0x10000, 0) or (product_ms, product_ls) != (0x10000, 0):
        failures.append("fixed file and product version are 1.0.0.0")
    tables = {table for table, _ in strings}
    if len(tables) != 1 or next(iter(tables)).upper() != "040904E4":
        failures.append("one string table, U.S. English in the Windows ANSI code page (%s)" % tables)
        return
    if translations != [(0x0409, 1252)]:
        failures.append("Translation names the string table (%s)" % translations)
    table = tables.pop()
    want = {
        "FileDescription": header["PRODUCT_DESCRIPTION"],
        "ProductName": header["PRODUCT_NAME"],
        "FileVersion": "1.0.0.0",
        "ProductVersion": "1.0.0.0",
        "CompanyName": header["MAKER_NAME"],
        "LegalCopyright": header["NOTICE_LINE"],
        "OriginalFilename": "CleanPhantaxis.exe",
    }
    for name, text in want.items():
        got = strings.get((table, name))
        if got != text or not text:
            failures.append("%s is %r (found %r)" % (name, text, got))
    if header["MAKER_NAME"] not in header["NOTICE_LINE"]:
        failures.append("the notice line names the maker")


def check_manifest(image, failures):
    manifests = image.resources(RT_MANIFEST)
    if list(manifests) != [1] or len(manifests[1]) != 1:
        failures.append("one manifest, type 24 id 1 (found %s)" % list(manifests))
        return
    text = manifests[1][0]
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        failures.append("the manifest is well-formed XML (%s)" % e)
        return
    if root.tag != "{%s}assembly" % ASM_V1 or root.get("manifestVersion") != "1.0":
        failures.append("the manifest is an asm.v1 assembly, version 1.0 (%s)" % root.tag)
    identity = root.find("{%s}assemblyIdentity" % ASM_V1)
    arch = {0x14C: "x86", 0x8664: "amd64"}.get(image.machine)
    if identity is None or identity.get("processorArchitecture") != arch:
        failures.append("the manifest names the program's processor, %s" % arch)
    levels = root.findall(".//{%s}trustInfo/{%s}security/{%s}requestedPrivileges/"
                          "{%s}requestedExecutionLevel" % ((ASM_V2,) * 4))
    if len(levels) != 1 or levels[0].get("level") != "requireAdministrator" or \
            levels[0].get("uiAccess", "false") != "false":
        failures.append("one requestedExecutionLevel requireAdministrator in asm.v2")
    if root.findall(".//{%s}trustInfo" % ASM_V3):
        failures.append("no trustInfo in the asm.v3 namespace (Windows XP refuses it)")
    found = [e.get("Id", "").lower() for e in
             root.findall("{%s}compatibility/{%s}application/{%s}supportedOS" % ((COMPAT,) * 3))]
    if sorted(found) != sorted(SUPPORTED_OS):
        failures.append("supportedOS names Vista, 7, 8, 8.1 and 10 once each (found %s)" %
                        [SUPPORTED_OS.get(i, i) for i in found])
    for dependency in root.iter():
        if dependency.tag.endswith("}assemblyIdentity") and \
                "common-controls" in (dependency.get("name") or "").lower():
            failures.append("no dependency on the common controls")


def check_icon(image, failures):
    groups = image.resources(RT_GROUP_ICON)
    # The directory lists named entries first, then numbers in rising order;
    # Explorer shows the first.
    if not groups or next(iter(groups)) != 128:
        failures.append("icon group 128 is the first icon group (found %s)" % list(groups))
        return
    group = groups[128][0]
    icons = image.resources(RT_ICON)
    _, kind, count = struct.unpack("<HHH", group[:6])
    if kind != 1 or count == 0 or len(group) < 6 + 14 * count:
        failures.append("icon group 128 lists its icons")
        return
    for i in range(count):
        icon_id = struct.unpack("<H", group[6 + 14 * i + 12:6 + 14 * i + 14])[0]
        if icon_id not in icons:
            failures.append("icon %d of group 128 is in the file" % icon_id)


def read_header(path):
    header = {}
    with open(path, encoding="ascii") as f:
        for m in re.finditer(r'^#define\s+(\w+)\s+"([^"]*)"', f.read(), re.M):
            header[m.group(1)] = m.group(2)
    return header


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    header = read_header(sys.argv[2])
    failures = []
    try:
        image = Image(data)
        for check in (check_version, check_manifest, check_icon):
            try:
                if check is check_version:
                    check(image, header, failures)
                else:
                    check(image, failures)
            except (Bad, ValueError, struct.error, KeyError, IndexError) as e:
                failures.append("%s: %s" % (check.__name__, e))
    except Bad as e:
        failures.append(str(e))
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("version resource, manifest and icon of %s are right" % sys.argv[1])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
