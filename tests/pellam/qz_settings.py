#!/usr/bin/env python3
"""qz settings from the outside: every type set and read back as the same
text, the listing, the import of an older text file, and the errors.

usage: qz_settings.py [--wine] QZ
With --wine, QZ is a win32 program run through Wine, and paths are given in
the form Wine reads (Z: is the root of the file system).
"""
import os
import subprocess
import sys
import tempfile

CASES = [
    ("int", "-5"), ("int64", "-9000000000"), ("bool", "true"), ("bool", "7"),
    ("string", "two words"), ("stringa", "abc"), ("stringw", ""), ("path", "C:\\clips\\a.avi"),
    ("guid", "{6B29FC40-CA47-1067-B31D-00DD010662DA}"), ("bin", "0a1b2c"),
    ("timecode", "01:00:00:00"), ("timecode", "00:59:59;29"), ("timecode", "10:00:00:00@24"),
    ("color", "0x00FF8040"), ("font", "Courier New,-12"), ("rect", "-1,2,640,480"),
    ("uint", "4294967295"), ("uint64", "18446744073709551615"), ("dword", "0x80000000"),
    ("0x7", "0102"),
]
NATIVE_ONLY = [("string", "caf\u00e9 \u20ac"), ("stringa", "caf\u00e9")]
# Every start of a program under Wine costs seconds here: through Wine a few
# types only, read back through one listing (the text code is the same).
WINE_CASES = [("int", "-5"), ("string", "two words"), ("guid", "{6B29FC40-CA47-1067-B31D-00DD010662DA}"),
              ("timecode", "00:59:59;29"), ("font", "Courier New,-12")]


def main():
    wine = sys.argv[1] == "--wine"
    qz = sys.argv[-1]
    failures = []
    with tempfile.TemporaryDirectory() as d:
        def path(name):
            p = os.path.join(d, name)
            return "Z:" + p.replace("/", "\\") if wine else p

        def run(*args):
            cmd = (["wine", qz] if wine else [qz]) + list(args)
            env = dict(os.environ, WINEDEBUG="-all")
            r = subprocess.run(cmd, capture_output=True, env=env)
            return r.returncode, r.stdout.decode("utf-8").replace("\r\n", "\n"), r.stderr.decode("utf-8")

        def expect(what, got, want):
            if got != want:
                failures.append("%s: got %r, want %r" % (what, got, want))

        store = path("all.set")
        cases = WINE_CASES if wine else CASES + NATIVE_ONLY
        for i, (kind, value) in enumerate(cases):
            name = "v%d" % i
            expect("set %s %s" % (kind, value), run("settings", store, "set", "S", name, kind, value)[:2], (0, ""))
            if not wine:
                expect("get %s %s" % (kind, value), run("settings", store, "get", "s", name, kind)[:2],
                       (0, value + "\n"))
        code, out, _ = run("settings", store, "list")
        expect("list status", code, 0)
        expect("list", out.splitlines(),
               ["[S]"] + ["  V%d = %s (%s)" % (i, v, "0x7" if k == "0x7" else k) for i, (k, v) in enumerate(cases)])

        # A name with several types needs one; missing things are errors.
        if wine:
            expect("get", run("settings", store, "get", "s", "v0")[:2], (0, "-5\n"))
            return report(failures)
        run("settings", store, "set", "S", "twice", "int", "1")
        run("settings", store, "set", "S", "twice", "uint", "1")
        code, _, err = run("settings", store, "get", "S", "twice")
        expect("several types", (code, "several types" in err), (1, True))
        code, _, err = run("settings", store, "get", "S", "none")
        expect("missing setting", (code, "holds no setting S/NONE" in err), (1, True))
        code, _, err = run("settings", path("none.set"), "list")
        expect("missing file", (code, "no such file" in err), (1, True))
        with open(os.path.join(d, "foreign.set"), "wb") as f:
            f.write(b"abcdef")
        code, _, err = run("settings", path("foreign.set"), "set", "S", "x", "int", "1")
        expect("foreign file", (code, "not a settings file" in err), (1, True))
        code, _, err = run("settings", store, "set", "S", "x", "int", "12x")
        expect("bad value", (code, "is no int" in err), (1, True))

        # Removing: a setting, then the whole section, and with it the file.
        expect("rm setting", run("settings", store, "rm", "S", "twice", "int")[:2], (0, ""))
        expect("after rm", run("settings", store, "get", "S", "twice")[:2], (0, "1\n"))
        expect("rm section", run("settings", store, "rm", "s")[:2], (0, ""))
        expect("file gone", os.path.exists(os.path.join(d, "all.set")), False)

        # Opening imports the older text file next to it.
        with open(os.path.join(d, "old.set.ini"), "wb") as f:
            f.write(b"[VIDEO]\r\nWidth=400,720\r\n")
        expect("import", run("settings", path("old.set"), "list")[:2], (0, "[VIDEO]\n  WIDTH = 720 (int)\n"))
        expect("text file gone", os.path.exists(os.path.join(d, "old.set.ini")), False)

        # A damaged store: check says where, salvage keeps what reads whole.
        torn = path("torn.set")
        for i in range(4):
            run("settings", torn, "set", "S", "k%d" % i, "int", str(i))
        expect("check whole", run("settings", torn, "check")[:2],
               (0, "%s: whole: 1 sections, 4 settings in 114 bytes\n" % torn))
        with open(os.path.join(d, "torn.set"), "r+b") as f:
            f.seek(4 + 18 + 23 + 4)  # the size field of the second setting
            f.write(b"\0\0\0\0")
        code, out, _ = run("settings", torn, "check")
        expect("check damaged", (code, "at byte 45, in section S: a record of size 0" in out), (1, True))
        expect("salvage", run("settings", torn, "salvage", path("saved.set"))[0], 0)
        expect("salvaged", run("settings", path("saved.set"), "list")[1],
               "[S]\n  K0 = 0 (int)\n  K2 = 2 (int)\n  K3 = 3 (int)\n")
        code, _, err = run("settings", torn, "salvage", path("saved.set"))
        expect("salvage over a file", (code, "exists" in err), (1, True))

    return report(failures)


def report(failures):
    for f in failures:
        print(f)
    print("qz settings: %d checks failed" % len(failures) if failures else "qz settings: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
