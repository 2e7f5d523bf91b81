#!/usr/bin/env python3
"""Does tests/wine/check-imports catch the imports that would keep
RykXyLdr.exe from loading on Windows 95, and name them?

    tests/wine/check_imports_test.py

Each case feeds the checker an `objdump -p` listing in binutils' format and a
small allowlist, and looks at its exit status and at the lines it prints.
"""

import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check-imports")

ALLOWLIST = """\
# a comment
KERNEL32!CloseHandle      Windows 95: yes
KERNEL32!CreateFileA      Windows 95: yes
USER32!GetMessageA        Windows 95: yes
ADVAPI32!RegCloseKey      Windows 95: yes
"""


def listing(tables):
    """An objdump -p listing with import tables {dll: [function or ordinal]}."""
    out = ["", "t.exe:     file format pei-i386", "",
           "The Import Tables (interpreted .idata section contents)",
           " vma:            Hint    Time      Forward  DLL       First",
           "                 Table   Stamp     Chain    Name      Thunk",
           " 00024000\t00024050 00000000 00000000 0002489c 000241b0", ""]
    vma = 0x24310
    for dll, members in tables.items():
        out += ["\tDLL Name: %s" % dll, "\tvma:  Hint/Ord Member-Name Bound-To"]
        for n, m in enumerate(members):
            if isinstance(m, int):
                out.append("\t%08x\t %4d  <none>" % (0x80000000 | m, m))
            else:
                out.append("\t%x\t %4d  %s" % (vma, n, m))
            vma += 16
        out.append("")
    out += ["", "PE File Base Relocations (interpreted .reloc section contents)", ""]
    return "\n".join(out) + "\n"


CLEAN = {"KERNEL32.dll": ["CloseHandle", "CreateFileA"], "USER32.dll": ["GetMessageA"],
         "ADVAPI32.dll": ["RegCloseKey"]}


def with_extra(dll, member):
    tables = {k: list(v) for k, v in CLEAN.items()}
    tables.setdefault(dll, []).append(member)
    return tables


class CheckImports(unittest.TestCase):
    def run_checker(self, dump_text, allowlist_text=ALLOWLIST, extra=()):
        with tempfile.TemporaryDirectory() as d:
            dump = os.path.join(d, "dump.txt")
            allow = os.path.join(d, "allow.txt")
            with open(dump, "w") as f:
                f.write(dump_text)
            with open(allow, "w") as f:
                f.write(allowlist_text)
            r = subprocess.run([sys.executable, CHECKER, "--allowlist", allow, "--dump", dump, *extra],
                               capture_output=True, text=True)
        return r.returncode, r.stdout + r.stderr

    def test_allowed_imports_pass(self):
        for name, tables in [
            ("the clean program", CLEAN),
            ("DLL names in other cases", {"kernel32.dll": ["CloseHandle"], "user32.DLL": ["GetMessageA"]}),
        ]:
            with self.subTest(name):
                rc, out = self.run_checker(listing(tables))
                self.assertEqual(rc, 0, out)

    def test_imports_that_break_windows_95_are_named(self):
        # (case, listing, text that must name the import)
        cases = [
            ("a DLL outside the four", with_extra("GDI32.dll", "TextOutA"), "GDI32.dll!TextOutA"),
            ("OpenVxDHandle", with_extra("KERNEL32.dll", "OpenVxDHandle"), "KERNEL32.dll!OpenVxDHandle"),
            ("EnumDisplayMonitors", with_extra("USER32.dll", "EnumDisplayMonitors"),
             "USER32.dll!EnumDisplayMonitors"),
            ("GetMonitorInfoA", with_extra("USER32.dll", "GetMonitorInfoA"), "USER32.dll!GetMonitorInfoA"),
            ("a run-time-only function from another DLL", with_extra("foo.dll", "GetMonitorInfoA"),
             "foo.dll!GetMonitorInfoA"),
            ("KERNEL32 function not on the list", with_extra("KERNEL32.dll", "GetTickCount64"),
             "KERNEL32.dll!GetTickCount64"),
            ("USER32 function not on the list", with_extra("USER32.dll", "SetProcessDPIAware"),
             "USER32.dll!SetProcessDPIAware"),
            ("the C runtime msvcrt.dll", with_extra("msvcrt.dll", "malloc"), "msvcrt.dll!malloc"),
            ("another C runtime DLL", with_extra("ucrtbase.dll", "memcpy"), "ucrtbase.dll!memcpy"),
            ("a function listed for another DLL", with_extra("USER32.dll", "CloseHandle"),
             "USER32.dll!CloseHandle"),
            ("an import by ordinal", with_extra("KERNEL32.dll", 17), "KERNEL32.dll ordinal 17"),
        ]
        for name, tables, named in cases:
            with self.subTest(name):
                rc, out = self.run_checker(listing(tables))
                self.assertEqual(rc, 1, out)
                self.assertIn(named, out)
                # The allowed imports are not reported.
                self.assertNotIn("CreateFileA", out)

    def test_more_dlls_only_when_asked_for_and_listed(self):
        # The installer may import from GDI32; our programs may not.
        tables = with_extra("GDI32.dll", "TextOutA")
        more = ["--dlls", "KERNEL32,USER32,ADVAPI32,GDI32"]
        listed = ALLOWLIST + "GDI32!TextOutA  Windows 95: yes\n"
        rc, out = self.run_checker(listing(tables), listed, more)
        self.assertEqual(rc, 0, out)
        rc, out = self.run_checker(listing(tables), ALLOWLIST, more)
        self.assertEqual(rc, 1, out)
        self.assertIn("GDI32.dll!TextOutA", out)
        rc, out = self.run_checker(listing(tables), ALLOWLIST + "GDI32!TextOutA\n", more)
        self.assertEqual(rc, 2, out)

    def test_an_image_windows_95_would_not_start_is_named(self):
        # (case, header lines, exit status)
        cases = [
            ("subsystem and OS 4.0", "MajorOSystemVersion\t4\nMinorOSystemVersion\t0\n"
             "MajorSubsystemVersion\t4\nMinorSubsystemVersion\t0\n", 0),
            ("subsystem 5.1", "MajorSubsystemVersion\t5\nMinorSubsystemVersion\t1\n", 1),
            ("OS 4.10", "MajorOSystemVersion\t4\nMinorOSystemVersion\t10\n", 1),
        ]
        for name, header, status in cases:
            with self.subTest(name):
                rc, out = self.run_checker(header + listing(CLEAN))
                self.assertEqual(rc, status, out)
                if status:
                    self.assertIn("version", out)

    def test_every_bad_import_is_reported_not_just_the_first(self):
        tables = with_extra("KERNEL32.dll", "OpenVxDHandle")
        tables["GDI32.dll"] = ["TextOutA"]
        rc, out = self.run_checker(listing(tables))
        self.assertEqual(rc, 1, out)
        self.assertIn("OpenVxDHandle", out)
        self.assertIn("TextOutA", out)

    def test_unreadable_input_fails_instead_of_passing(self):
        cases = [
            ("no import table", "t.exe:     file format pei-i386\n", ALLOWLIST),
            ("an import table with no functions", listing({}), ALLOWLIST),
            ("a KERNEL32 entry without a note", listing(CLEAN), ALLOWLIST + "KERNEL32!Sleep\n"),
            ("a run-time-only function on the list", listing(CLEAN),
             ALLOWLIST + "KERNEL32!OpenVxDHandle  Windows 95: yes\n"),
            ("an entry for another DLL", listing(CLEAN), ALLOWLIST + "GDI32!TextOutA  Windows 95: yes\n"),
            ("an entry for msvcrt.dll", listing(CLEAN), ALLOWLIST + "msvcrt!malloc\n"),
            ("an entry that is not DLL!Function", listing(CLEAN), ALLOWLIST + "CloseHandle\n"),
        ]
        for name, dump, allow in cases:
            with self.subTest(name):
                rc, out = self.run_checker(dump, allow)
                self.assertEqual(rc, 2, out)


if __name__ == "__main__":
    unittest.main()
