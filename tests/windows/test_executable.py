"""What vormcfg.exe carries for Windows, read back from the built file: the
application manifest (run as the invoking user, never elevated), the version
record, and imports from no DLL that Windows does not ship.

    VORMCFG_EXE=build-windows/vormcfg.exe VORMCFG_VERSION=1.0.0.7 \\
        python3 -m unittest -v test_executable

The file is read as a PE image by the small reader below, so the check
needs neither Wine nor Windows tools.  Damaged copies of the real file
show that each check fails when its part is missing or wrong.
"""
import os
import struct
import unittest
import xml.etree.ElementTree as ElementTree

RT_VERSION = 16
RT_MANIFEST = 24
PROCESS_MANIFEST_ID = 1
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VFT_APP = 1
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"

# DLLs every Windows installation has; a compiler run-time DLL
# (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) is not one.
WINDOWS_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll", "advapi32.dll", "user32.dll",
                "iphlpapi.dll", "ntdll.dll"}


class NotAnImage(Exception):
    pass


class PeImage:
    """The parts of a PE32+ file this test reads: sections, the import and
    the resource directories."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise NotAnImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotAnImage("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        if self.u16(optional) != 0x20B:
            raise NotAnImage("not a PE32+ (64-bit) image")
        directory_count = self.u32(optional + 108)
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i)
                            for i in range(directory_count)]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_at))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for start, size, raw_at in self.sections:
            if start <= rva < start + size:
                return raw_at + rva - start
        raise NotAnImage("address 0x%x is in no section" % rva)

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii", "replace")

    def imported_dlls(self):
        rva, size = self.directories[1]
        names = []
        if not size:
            return names
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name_rva or thunks):
                return names
            names.append(self.c_string(name_rva))
            at += 20

    def resource_entries(self):
        """{(type id, name id): (data, file offset of the name's directory entry)}."""
        rva, size = self.directories[2]
        if not size:
            return {}
        base = self.offset(rva)
        found = {}

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + numbered):
                at = directory + 16 + 8 * i
                ident, target = struct.unpack_from("<II", self.data, at)
                yield ident, target, at

        for type_id, type_target, _ in entries(base):
            if not type_target & 0x80000000:
                continue
            for name_id, name_target, entry_at in entries(base + (type_target & 0x7FFFFFFF)):
                if not name_target & 0x80000000:
                    continue
                for _, leaf, _ in entries(base + (name_target & 0x7FFFFFFF)):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(data_rva)
                    found[(type_id, name_id)] = (self.data[at:at + data_size], entry_at)
        return found

    def resources(self):
        """{(type id, name id): data} of every resource with numeric ids."""
        return {key: data for key, (data, _) in self.resource_entries().items()}


def version_blocks(data, at=0, end=None):
    """The VS_VERSIONINFO tree: a list of (key, value bytes, children)."""
    end = len(data) if end is None else end
    blocks = []
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = data[value_at:value_at + value_size]
        children_at = (value_at + value_size + 3) & ~3
        blocks.append((key, value, version_blocks(data, children_at, at + length)))
        at = (at + length + 3) & ~3
    return blocks


def child(blocks, key):
    for name, value, children in blocks:
        if name == key:
            return value, children
    raise AssertionError("no %r block in the version record" % key)


def text(value):
    return value.decode("utf-16-le").rstrip("\0")


def check_manifest(image, version):
    """Problems with the manifest the loader applies to the process."""
    manifest = image.resources().get((RT_MANIFEST, PROCESS_MANIFEST_ID))
    if manifest is None:
        return ["no manifest (resource type 24, id 1)"]
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as exc:
        return ["the manifest is not well-formed XML: %s" % exc]
    problems = []
    levels = root.findall(".//%srequestedExecutionLevel" % ASM_V3)
    if len(levels) != 1:
        problems.append("%d requestedExecutionLevel elements" % len(levels))
    for level in levels:
        wanted = {"level": "asInvoker", "uiAccess": "false"}
        if dict(level.attrib) != wanted:
            problems.append("requestedExecutionLevel is %r, not %r" % (dict(level.attrib), wanted))
    identity = root.find("%sassemblyIdentity" % ASM_V1)
    if identity is None or identity.get("version") != version:
        problems.append("assemblyIdentity version is not %s" % version)
    return problems


def check_version(image, version):
    """Problems with the version record Explorer and installers read."""
    record = image.resources().get((RT_VERSION, 1))
    if record is None:
        return ["no version record (resource type 16, id 1)"]
    numbers = tuple(int(n) for n in version.split("."))
    (key, fixed, children), = version_blocks(record)[:1]
    problems = []
    if key != "VS_VERSION_INFO" or len(fixed) < 52:
        return ["the version record starts with %r, %d bytes" % (key, len(fixed))]
    (signature, _, file_ms, file_ls, product_ms, product_ls,
     _, _, _, file_type) = struct.unpack_from("<10I", fixed)
    if signature != VS_FIXEDFILEINFO_SIGNATURE:
        problems.append("fixed record signature 0x%08x" % signature)

    def split(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    for name, got in (("FILEVERSION", split(file_ms, file_ls)),
                      ("PRODUCTVERSION", split(product_ms, product_ls))):
        if got != numbers:
            problems.append("%s is %s, not %s" % (name, got, numbers))
    if file_type != VFT_APP:
        problems.append("file type %d, not an application" % file_type)
    _, tables = child(children, "StringFileInfo")
    if len(tables) != 1:
        return problems + ["%d string tables" % len(tables)]
    table_key, _, strings = tables[0]
    values = {name: text(value) for name, value, _ in strings}
    wanted = {"FileVersion": version, "ProductVersion": version, "ProductName": "vormcfg",
              "OriginalFilename": "vormcfg.exe", "InternalName": "vormcfg"}
    for name, expected in wanted.items():
        if values.get(name) != expected:
            problems.append("string %s is %r, not %r" % (name, values.get(name), expected))
    if not values.get("FileDescription"):
        problems.append("no FileDescription")
    translation, _ = child(child(children, "VarFileInfo")[1], "Translation")
    language, codepage = struct.unpack_from("<HH", translation)
    if table_key.upper() != "%04X%04X" % (language, codepage):
        problems.append("string table %s, translation %04x/%d" % (table_key, language, codepage))
    return problems


def check_imports(image):
    return ["imports %s, which Windows does not ship" % name
            for name in image.imported_dlls() if name.lower() not in WINDOWS_DLLS]


def problems_of(data, version):
    try:
        image = PeImage(data)
        return check_manifest(image, version) + check_version(image, version) + check_imports(image)
    except (NotAnImage, struct.error, ValueError, AssertionError) as exc:
        return ["unreadable: %s" % exc]


def replace_once(data, old, new):
    assert len(old) == len(new) and data.count(old) == 1, (old, data.count(old))
    return data.replace(old, new)


def utf16(value):
    return value.encode("utf-16-le")


def string_value_changed(data, key, old, new):
    """The version record's string `key` holding `new` instead of `old`."""
    assert len(old) == len(new)
    at = data.index(utf16(old), data.index(utf16(key) + b"\0\0"))
    return data[:at] + utf16(new) + data[at + 2 * len(new):]


def fixed_info_field(data, index, value):
    at = data.index(struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE)) + 4 * index
    return data[:at] + struct.pack("<I", value) + data[at + 4:]


def renumbered(data, type_id, old_id, new_id):
    _, at = PeImage(data).resource_entries()[(type_id, old_id)]
    return data[:at] + struct.pack("<I", new_id) + data[at + 4:]


def without_resources(data):
    image = PeImage(data)
    pe = image.u32(0x3C)
    at = pe + 24 + 112 + 8 * 2
    return data[:at] + bytes(8) + data[at + 8:]


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        path = os.environ.get("VORMCFG_EXE")
        cls.version = os.environ.get("VORMCFG_VERSION", "")
        if not path or not cls.version:
            raise unittest.SkipTest("set VORMCFG_EXE and VORMCFG_VERSION (ctest does)")
        with open(path, "rb") as f:
            cls.exe = f.read()

    def test_built_program_has_manifest_version_record_and_windows_imports_only(self):
        self.assertEqual(problems_of(self.exe, self.version), [])
        self.assertIn("ws2_32.dll", [n.lower() for n in PeImage(self.exe).imported_dlls()])

    def test_each_check_fails_on_a_damaged_copy(self):
        version = self.version
        wrong = version[:-1] + str((int(version[-1]) + 1) % 10)
        ls = int(version.split(".")[2]) << 16 | int(version.split(".")[3])
        damages = [
            # name, damage, a text the report must contain
            ("manifest asks for another level",
             lambda d: replace_once(d, b'level="asInvoker"', b'level="asInvokeX"'),
             "requestedExecutionLevel"),
            ("manifest grants UI access",
             lambda d: replace_once(d, b'uiAccess="false"', b'uiAccess="true" '),
             "requestedExecutionLevel"),
            ("manifest of another version",
             lambda d: replace_once(d, b'version="%s"' % version.encode(),
                                    b'version="%s"' % wrong.encode()),
             "assemblyIdentity"),
            ("manifest under another id", lambda d: renumbered(d, RT_MANIFEST, 1, 2),
             "no manifest"),
            ("version record under another id", lambda d: renumbered(d, RT_VERSION, 1, 2),
             "no version record"),
            ("FILEVERSION off by one", lambda d: fixed_info_field(d, 3, ls + 1), "FILEVERSION"),
            ("PRODUCTVERSION off by one", lambda d: fixed_info_field(d, 5, ls + 1),
             "PRODUCTVERSION"),
            ("fixed record without its signature", lambda d: fixed_info_field(d, 0, 0),
             "signature"),
            ("FileVersion text", lambda d: string_value_changed(d, "FileVersion", version, wrong),
             "FileVersion"),
            ("ProductVersion text",
             lambda d: string_value_changed(d, "ProductVersion", version, wrong), "ProductVersion"),
            ("OriginalFilename text",
             lambda d: string_value_changed(d, "OriginalFilename", "vormcfg.exe", "vormcfg.com"),
             "OriginalFilename"),
            ("no resources at all", without_resources, "no manifest"),
            ("a compiler run-time DLL", lambda d: replace_once(d, b"msvcrt.dll\0", b"libgcc.dll\0"),
             "libgcc.dll"),
        ]
        for name, damage, reported in damages:
            with self.subTest(name):
                problems = problems_of(damage(self.exe), version)
                self.assertIn(reported, " ".join(problems), "the damage went unnoticed")


if __name__ == "__main__":
    unittest.main()
