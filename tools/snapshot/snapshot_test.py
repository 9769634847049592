"""Tests of snapshot.py: the reader of Wine's registry files, the views and
links of the registry, paths without case, and the diff."""

import contextlib
import hashlib
import io
import json
import os
import tempfile
import unittest

import snapshot

HEADER = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"


def parse_one_value(line):
    """(type, JSON data) of one value line inside a key."""
    keys = snapshot.parse_registry_text(HEADER + "[Software\\\\Test] 1700000000\n#time=1d9\n" + line + "\n")
    (value_type, raw), = keys["Software\\Test"]["values"].values()
    return value_type, snapshot.value_data(value_type, raw)


class RegistryReaderTest(unittest.TestCase):
    def test_value_kinds(self):
        cases = [
            # (value line as Wine writes it, type, data)
            ('"Name"="plain text"', 1, "plain text"),
            ('@="default"', 1, "default"),
            ('"Empty"=""', 1, ""),
            (r'"Esc"="back\\slash \"quoted\" line\nnext tab\t\e\r"', 1, 'back\\slash "quoted" line\nnext tab\t\x1b\r'),
            (r'"Uni"="caf\xe9 \x263a\x00e9f"', 1, "caf\u00e9 \u263a\u00e9f"),
            (r'"Octal"="a\033b\1c"', 1, "a\x1bb\x01c"),
            ('"Path"=str(2):"%SystemRoot%\\\\system32"', 2, "%SystemRoot%\\system32"),
            ('"Multi"=str(7):"one\\0two\\0"', 7, ["one", "two"]),
            ('"Count"=dword:0000002a', 4, 42),
            ('"Big"=dword:ffffffff', 4, 0xFFFFFFFF),
            ('"Bin"=hex:00,01,fe,ff', 3, {"hex": "0001feff"}),
            ('"NoData"=hex:', 3, {"hex": ""}),
            ('"Expand"=hex(2):25,00,41,00,25,00,00,00', 2, "%A%"),
            ('"MultiHex"=hex(7):61,00,00,00,62,00,00,00,00,00', 7, ["a", "b"]),
            ('"EmptyMulti"=hex(7):00,00', 7, []),
            ('"Unterminated"=hex(7):61,00', 7, {"hex": "6100"}),
            ('"Qword"=hex(b):01,00,00,00,00,00,00,80', 11, 0x8000000000000001),
            ('"Device"=hex(ffff0012):01,02', 0xFFFF0012, {"hex": "0102"}),
            ('"Odd"=str(ffff0007):"x"', 0xFFFF0007, {"hex": "78000000"}),
            ('"With \\"quote\\" and \\\\"=dword:00000001', 4, 1),
        ]
        for line, value_type, data in cases:
            with self.subTest(line=line):
                self.assertEqual(parse_one_value(line), (value_type, data))

    def test_hex_continues_over_lines_and_equals_the_string_form(self):
        text = (HEADER + "[Software\\\\Test] 1\n"
                '"Long"=hex(2):43,00,3a,00,5c,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,\\\n'
                "  20,00,46,00,69,00,6c,00,65,00,73,00,\\\n"
                "  00,00\n"
                '"Short"=str(2):"C:\\\\Program Files"\n'
                '"After"=dword:00000007\n')
        values = snapshot.parse_registry_text(text)["Software\\Test"]["values"]
        long_form = snapshot.value_data(*values["Long"])
        self.assertEqual(long_form, "C:\\Program Files")
        self.assertEqual(values["Long"], values["Short"])
        self.assertEqual(snapshot.value_data(*values["After"]), 7)

    def test_keys_links_and_escaped_names(self):
        text = (HEADER +
                "[Software\\\\Odd \\[name\\]\\\\Sub] 1\n#time=1d9\n#class=\"x\"\n@=\"\"\n\n"
                "[Software\\\\Wow6432Node\\\\Classes] 1\n#link\n"
                '"SymbolicLinkValue"=hex(6):5c,00,52,00\n')
        keys = snapshot.parse_registry_text(text)
        self.assertEqual(sorted(keys), ["Software\\Odd [name]\\Sub", "Software\\Wow6432Node\\Classes"])
        self.assertFalse(keys["Software\\Odd [name]\\Sub"]["link"])
        self.assertTrue(keys["Software\\Wow6432Node\\Classes"]["link"])

    def test_errors_name_file_and_line(self):
        cases = [
            ("REGEDIT4\n", "t.reg:1: not a Wine registry file"),
            (HEADER + '"a"="b"\n', "t.reg:6: value outside a key"),
            (HEADER + "[Software\n", "t.reg:6: key name without ']'"),
            (HEADER + "[K] 1\n\"a\"=\"open\n", "t.reg:7: unterminated string"),
            (HEADER + "[K] 1\n\"a\"=hex:0g\n", "t.reg:7: bad hex data '0g'"),
            (HEADER + "[K] 1\n\"a\"=hex:01,\\\n", "t.reg:7: continuation at the end of the file"),
            (HEADER + "[K] 1\n\"a\"=dword:xyz\n", "t.reg:7: bad dword 'xyz'"),
            (HEADER + "[K] 1\n\"a\"=sz:1\n", "t.reg:7: unknown value data 'sz:1'"),
            (HEADER + "[K] 1\nnonsense\n", "t.reg:7: unexpected line 'nonsense'"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(snapshot.RegistryError) as caught:
                    snapshot.parse_registry_text(text, "t.reg")
                self.assertEqual(str(caught.exception), message)


class ViewAndLinkTest(unittest.TestCase):
    def test_key_locations(self):
        cases = [
            ("HKLM\\Software\\Foo", ["HKLM\\Software\\Foo"]),
            ("HKEY_LOCAL_MACHINE\\Software\\Foo", ["HKLM\\Software\\Foo"]),
            ("HKLM64\\Software\\Foo", ["HKLM\\Software\\Foo"]),
            ("HKLM32\\Software\\Foo", ["HKLM\\Software\\Wow6432Node\\Foo"]),
            ("hklm32\\SOFTWARE", ["HKLM\\SOFTWARE\\Wow6432Node"]),
            ("HKLM32\\Software\\Wow6432Node\\Foo", ["HKLM\\Software\\Wow6432Node\\Foo"]),
            ("HKLM32\\System\\CurrentControlSet", ["HKLM\\System\\CurrentControlSet"]),
            ("HKLM32\\Software\\Classes\\.txt", ["HKLM\\Software\\Classes\\Wow6432Node\\.txt"]),
            ("HKCU32\\Software\\Foo", ["HKCU\\Software\\Foo"]),
            ("HKCU32\\Software\\Classes\\CLSID", ["HKCU\\Software\\Classes\\Wow6432Node\\CLSID"]),
            ("HKCR\\.txt", ["HKLM\\Software\\Classes\\.txt", "HKCU\\Software\\Classes\\.txt"]),
            ("HKEY_CLASSES_ROOT", ["HKLM\\Software\\Classes", "HKCU\\Software\\Classes"]),
            ("HKCR32\\CLSID", ["HKLM\\Software\\Classes\\Wow6432Node\\CLSID",
                               "HKCU\\Software\\Classes\\Wow6432Node\\CLSID"]),
            ("HKU\\.Default\\Software", ["HKU\\.Default\\Software"]),
        ]
        for path, locations in cases:
            with self.subTest(path=path):
                self.assertEqual(snapshot.key_locations(path), locations)

    def test_unknown_root(self):
        with self.assertRaisesRegex(ValueError, "unknown registry root 'HKXX'"):
            snapshot.key_locations("HKXX\\Software")

    def test_links_are_followed_without_case(self):
        target = "\\Registry\\Machine\\Software\\Classes\\Wow6432Node".encode("utf-16-le")
        self.assertEqual(snapshot.link_target(target), "HKLM\\Software\\Classes\\Wow6432Node")
        self.assertEqual(snapshot.link_target("\\Registry\\User\\S-1-5-21-0\\Software".encode("utf-16-le")),
                         "HKCU\\Software")
        self.assertIsNone(snapshot.link_target("C:\\nowhere".encode("utf-16-le")))
        links = {"hklm\\software\\wow6432node\\classes": "HKLM\\Software\\Classes\\Wow6432Node"}
        self.assertEqual(snapshot.resolve_links("HKLM\\SOFTWARE\\wow6432node\\Classes\\CLSID", links),
                         "HKLM\\Software\\Classes\\Wow6432Node\\CLSID")
        self.assertEqual(snapshot.resolve_links("HKLM\\Software\\Classes", links), "HKLM\\Software\\Classes")
        looping = {"hklm\\a": "HKLM\\b", "hklm\\b": "HKLM\\a"}
        self.assertIn(snapshot.resolve_links("HKLM\\a\\x", looping), ("HKLM\\a\\x", "HKLM\\b\\x"))


SYSTEM_REG = HEADER + """[Software\\\\Vendor\\\\App] 1700000000
#time=1d9aaaa
"Version"="1.0"
"Flags"=dword:00000003

[Software\\\\Wow6432Node\\\\Vendor32] 1700000000
@="thirty-two"

[Software\\\\Wow6432Node\\\\Classes] 1700000000
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,5c,00,4d,00,\\
  61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,74,00,77,00,61,00,\\
  72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,00,5c,00,57,00,6f,00,\\
  77,00,36,00,34,00,33,00,32,00,4e,00,6f,00,64,00,65,00

[Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\{1}] 1700000000
@="class32"

[System\\\\CurrentControlSet\\\\Services\\\\Svc] 1700000000
"Start"=dword:00000002

[System\\\\CurrentControlSet\\\\Control\\\\Other] 1700000000
"Skipped"="outside the default roots"
"""

USER_REG = HEADER.replace("Machine", "User\\\\\\\\S-1-5-21-0-0-0-1000") + """[Software\\\\Wine] 1700000000
"Version"="win7"
"""


class PrefixFixture(unittest.TestCase):
    """A small prefix in a temporary folder: registry files, drive C: behind
    dosdevices, and a few files."""

    def setUp(self):
        self.temporary = tempfile.TemporaryDirectory()
        self.prefix = self.temporary.name
        self.write_registry(SYSTEM_REG, USER_REG)
        os.makedirs(os.path.join(self.prefix, "drive_c", "Program Files", "Vendor", "Data"))
        os.makedirs(os.path.join(self.prefix, "dosdevices"))
        os.symlink("../drive_c", os.path.join(self.prefix, "dosdevices", "c:"))
        self.write_file("Program Files/Vendor/App.exe", b"MZ program")

    def tearDown(self):
        self.temporary.cleanup()

    def write_registry(self, system_text, user_text):
        for name, text in (("system.reg", system_text), ("user.reg", user_text)):
            with open(os.path.join(self.prefix, name), "w", encoding="utf-8") as stream:
                stream.write(text)

    def write_file(self, relative, content):
        path = os.path.join(self.prefix, "drive_c", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as stream:
            stream.write(content)

    def take(self, trees=("C:\\Program Files\\Vendor",), keys=()):
        return json.loads(json.dumps(snapshot.take(self.prefix, list(trees), list(keys))))


class TakeTest(PrefixFixture):
    def test_default_roots_and_implicit_parents(self):
        taken = self.take()
        paths = sorted(key["path"] for key in taken["registry"].values())
        self.assertEqual(paths, [
            "HKCU", "HKCU\\Software", "HKCU\\Software\\Wine",
            "HKLM\\Software", "HKLM\\Software\\Classes", "HKLM\\Software\\Classes\\Wow6432Node",
            "HKLM\\Software\\Classes\\Wow6432Node\\CLSID", "HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\{1}",
            "HKLM\\Software\\Vendor", "HKLM\\Software\\Vendor\\App",
            "HKLM\\Software\\Wow6432Node", "HKLM\\Software\\Wow6432Node\\Classes",
            "HKLM\\Software\\Wow6432Node\\Vendor32",
            "HKLM\\System\\CurrentControlSet\\Services", "HKLM\\System\\CurrentControlSet\\Services\\Svc",
        ])
        app = taken["registry"]["hklm\\software\\vendor\\app"]
        self.assertEqual(app["values"]["version"], {"name": "Version", "type": 1, "data": "1.0"})

    def test_keys_are_selected_through_views_links_and_any_case(self):
        cases = [
            (["HKLM32\\Software\\Vendor32"], ["HKLM\\Software\\Wow6432Node\\Vendor32"]),
            # Software\Wow6432Node\Classes is a link to Software\Classes\Wow6432Node.
            (["HKLM\\SOFTWARE\\Wow6432Node\\Classes\\clsid"],
             ["HKLM\\Software\\Classes\\Wow6432Node\\CLSID", "HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\{1}"]),
            (["HKCR32\\CLSID\\{1}"], ["HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\{1}"]),
            (["hkcu\\software"], ["HKCU\\Software", "HKCU\\Software\\Wine"]),
            (["HKLM\\Software\\Missing"], []),
        ]
        for keys, paths in cases:
            with self.subTest(keys=keys):
                taken = self.take(trees=(), keys=keys)
                self.assertEqual(sorted(key["path"] for key in taken["registry"].values()), paths)

    def test_tree_paths_ignore_case_and_keep_spelling(self):
        taken = self.take(trees=("c:\\PROGRAM FILES\\vendor",))
        self.assertEqual(taken["trees"], ["C:\\Program Files\\Vendor"])
        self.assertEqual(sorted(taken["files"]), [
            "c:\\program files\\vendor", "c:\\program files\\vendor\\app.exe", "c:\\program files\\vendor\\data"])
        self.assertEqual(taken["files"]["c:\\program files\\vendor\\app.exe"], {
            "path": "C:\\Program Files\\Vendor\\App.exe", "kind": "file", "size": 10,
            "sha256": hashlib.sha256(b"MZ program").hexdigest()})
        self.assertEqual(taken["files"]["c:\\program files\\vendor\\data"]["kind"], "folder")

    def test_links_are_recorded_not_followed_and_missing_trees_are_empty(self):
        os.symlink("/nonexistent/target", os.path.join(self.prefix, "drive_c", "Program Files", "Vendor", "Docs"))
        taken = self.take(trees=("C:\\Program Files\\Vendor", "C:\\Not There\\Sub"))
        self.assertEqual(taken["files"]["c:\\program files\\vendor\\docs"],
                         {"path": "C:\\Program Files\\Vendor\\Docs", "kind": "link", "target": "/nonexistent/target"})
        self.assertEqual(taken["trees"], ["C:\\Program Files\\Vendor", "C:\\Not There\\Sub"])
        self.assertNotIn("c:\\not there\\sub", taken["files"])

    def test_paths_that_are_not_windows_paths_are_refused(self):
        with self.assertRaisesRegex(ValueError, "not a Windows path with a drive letter: '/usr'"):
            self.take(trees=("/usr",))


class DiffTest(PrefixFixture):
    def changed_machine(self):
        """Returns the snapshots before and after a change of every kind."""
        before = self.take()
        system = (SYSTEM_REG.replace('"Version"="1.0"', '"Version"="2.0"')
                  .replace('"Flags"=dword:00000003\n', "")
                  .replace("[Software\\\\Wow6432Node\\\\Vendor32] 1700000000\n@=\"thirty-two\"\n", "")
                  + "\n[Software\\\\Vendor\\\\New] 1800000000\n#time=1da\n@=hex(7):61,00,00,00,00,00\n")
        user = USER_REG.replace("1700000000", "1900000000")  # only the key's time changes
        self.write_registry(system, user)
        self.write_file("Program Files/Vendor/App.exe", b"MZ program 2")
        self.write_file("Program Files/Vendor/Data/new.dat", b"")
        return before, self.take()

    def test_every_kind_of_change_has_its_line(self):
        before, after = self.changed_machine()
        old_hash = hashlib.sha256(b"MZ program").hexdigest()[:16]
        new_hash = hashlib.sha256(b"MZ program 2").hexdigest()[:16]
        empty_hash = hashlib.sha256(b"").hexdigest()[:16]
        self.assertEqual(snapshot.diff(before, after), [
            "removed value HKLM\\Software\\Vendor\\App [Flags] = REG_DWORD 0x00000003 (3)",
            'changed value HKLM\\Software\\Vendor\\App [Version]: REG_SZ "1.0" -> REG_SZ "2.0"',
            "added key HKLM\\Software\\Vendor\\New",
            'added value HKLM\\Software\\Vendor\\New [(default)] = REG_MULTI_SZ ["a"]',
            "removed key HKLM\\Software\\Wow6432Node\\Vendor32",
            'removed value HKLM\\Software\\Wow6432Node\\Vendor32 [(default)] = REG_SZ "thirty-two"',
            "changed C:\\Program Files\\Vendor\\App.exe: 10 bytes, sha256 %s -> 12 bytes, sha256 %s"
            % (old_hash, new_hash),
            "added file C:\\Program Files\\Vendor\\Data\\new.dat (0 bytes, sha256 %s)" % empty_hash,
        ])
        self.assertEqual(snapshot.diff(after, after), [])

    def test_removed_folder_and_kind_change(self):
        before = self.take()
        os.rmdir(os.path.join(self.prefix, "drive_c", "Program Files", "Vendor", "Data"))
        self.write_file("Program Files/Vendor/Data", b"x")
        os.makedirs(os.path.join(self.prefix, "drive_c", "Program Files", "Vendor", "Empty"))
        after = self.take()
        self.assertEqual(snapshot.diff(before, after), [
            "changed C:\\Program Files\\Vendor\\Data: folder -> 1 bytes, sha256 %s"
            % hashlib.sha256(b"x").hexdigest()[:16],
            "added folder C:\\Program Files\\Vendor\\Empty"])
        self.assertEqual(snapshot.diff(after, before)[1], "removed folder C:\\Program Files\\Vendor\\Empty")

    def test_case_only_differences_are_no_differences(self):
        before = self.take()
        self.write_registry(SYSTEM_REG.replace("Vendor\\\\App", "VENDOR\\\\app").replace('"Version"', '"VERSION"'),
                            USER_REG)
        os.rename(os.path.join(self.prefix, "drive_c", "Program Files", "Vendor", "App.exe"),
                  os.path.join(self.prefix, "drive_c", "Program Files", "Vendor", "APP.EXE"))
        self.assertEqual(snapshot.diff(before, self.take()), [])

    def test_ignore_patterns(self):
        before, after = self.changed_machine()
        cases = [
            # (patterns, lines left, by their start)
            (["HKLM\\Software\\Vendor\\*"], ["removed key HKLM\\Software\\Wow6432Node\\Vendor32",
                                             "removed value HKLM\\Software\\Wow6432Node\\Vendor32",
                                             "changed C:", "added file C:"]),
            # A pattern without a star covers the key, its values and subkeys.
            (["hklm\\software\\vendor", "HKLM32\\Software\\Vendor32", "C:\\Program Files\\*"], []),
            # A value pattern names KEY\NAME; the default value is (default).
            (["HKLM\\Software\\Vendor\\App\\Flags", "HKLM\\Software\\Vendor\\New\\(default)",
              "HKLM\\Software\\Wow6432Node", "C:\\Program Files\\Vendor\\Data\\*", "C:\\*\\App.exe"],
             ["changed value HKLM\\Software\\Vendor\\App [Version]", "added key HKLM\\Software\\Vendor\\New"]),
            (["HKLM\\Software\\Vendor\\App\\Ver?ion", "HKEY_LOCAL_MACHINE\\Software\\Vendor\\N*",
              "HKLM\\Software\\*\\Vendor32", "C:\\Program Files\\Vendor\\*.*"],
             ["removed value HKLM\\Software\\Vendor\\App [Flags]"]),
        ]
        for patterns, starts in cases:
            with self.subTest(patterns=patterns):
                lines = snapshot.diff(before, after, patterns)
                self.assertEqual(len(lines), len(starts), lines)
                for line, start in zip(lines, starts):
                    self.assertTrue(line.startswith(start), (line, start))

    def test_hkcr_patterns_cover_both_hives(self):
        before = self.take()
        self.write_registry(SYSTEM_REG + "\n[Software\\\\Classes\\\\.kyt] 1\n@=\"m\"\n",
                            USER_REG + "\n[Software\\\\Classes\\\\.kyt] 1\n@=\"u\"\n")
        after = self.take()
        self.assertEqual(len(snapshot.diff(before, after)), 5)
        self.assertEqual(snapshot.diff(before, after, ["HKCR\\.KYT"]), ["added key HKCU\\Software\\Classes"])

    def test_builtin_ignores_hide_wine_churn_only(self):
        version = "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n\"CurrentVersion\"=\"6.1\"\n"
        self.write_registry(SYSTEM_REG + version, USER_REG)
        before = self.take()
        self.write_registry(SYSTEM_REG + version + "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\NetworkCards\\\\1] 1\n"
                            '"Description"="eth0"\n', USER_REG)
        after = self.take()
        self.assertEqual(snapshot.diff(before, after), [])
        self.assertEqual(snapshot.diff(before, after, builtin=False), [
            "added key HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
            "added key HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\1",
            'added value HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\1 [Description] = REG_SZ "eth0"',
        ])
        self.assertEqual(snapshot.diff(before, after, ["HKLM\\Software\\Microsoft"], builtin=False), [])


class CommandLineTest(PrefixFixture):
    def run_main(self, *arguments):
        output, errors = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(output), contextlib.redirect_stderr(errors):
            status = snapshot.main(list(arguments))
        return status, output.getvalue(), errors.getvalue()

    def test_take_then_diff(self):
        first, second = os.path.join(self.prefix, "a.json"), os.path.join(self.prefix, "b.json")
        tree = "C:\\Program Files\\Vendor"
        self.assertEqual(self.run_main("take", self.prefix, first, "--tree", tree), (0, "", ""))
        self.assertEqual(self.run_main("diff", first, first), (0, "", ""))
        self.write_file("Program Files/Vendor/more.txt", b"more")
        self.assertEqual(self.run_main("take", self.prefix, second, "--tree", tree)[0], 0)
        status, output, _ = self.run_main("diff", first, second)
        self.assertEqual(status, 1)
        self.assertTrue(output.startswith("added file C:\\Program Files\\Vendor\\more.txt (4 bytes, sha256 "), output)
        self.assertEqual(self.run_main("diff", first, second, "--ignore", "C:\\Program Files\\*"), (0, "", ""))

    def test_errors_end_with_status_2(self):
        os.remove(os.path.join(self.prefix, "system.reg"))
        status, output, errors = self.run_main("take", self.prefix, os.path.join(self.prefix, "a.json"))
        self.assertEqual((status, output), (2, ""))
        self.assertEqual(errors, "snapshot.py: %s: no system.reg, not a Wine prefix\n" % self.prefix)
        not_snapshot = os.path.join(self.prefix, "x.json")
        with open(not_snapshot, "w") as stream:
            stream.write("{}")
        status, _, errors = self.run_main("diff", not_snapshot, not_snapshot)
        self.assertEqual((status, errors), (2, "snapshot.py: %s: not a snapshot of format 1\n" % not_snapshot))


if __name__ == "__main__":
    unittest.main()
