#!/usr/bin/env python3
"""qz trace and qz dump end to end.

`qz trace` and `qz trace --fault` print traces whose first frames name the
functions they start in (QzTraceInner, then its caller QzTraceOuter), the
second from the filter of a child that ended by its access fault; --dump keeps
the dump file, and `qz dump` shows it again. `qz dump` refuses what is no dump
file.

usage: trace_dump.py KIND QZ [--emulator WINE]      (KIND: native or win32)
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile


def frames(text):
    """The frames of a printed trace: each heading line with the lines under it."""
    out = []
    for line in text.splitlines():
        if re.match(r"\s*\d+\) ", line):
            out.append(line)
        elif out and line.startswith("     "):
            out[-1] += "\n" + line
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kind", choices=["native", "win32"])
    ap.add_argument("qz")
    ap.add_argument("--emulator", default=None)
    a = ap.parse_args()
    qz = ([a.emulator] if a.emulator else []) + [a.qz]
    shown = {
        "native": ("QzTraceInner", "QzTraceOuter"),
        "win32": ("__stdcall QzTraceInner(4 byte(s))", "__stdcall QzTraceOuter(4 byte(s))"),
    }[a.kind]
    problems = []

    def run(*args):
        return subprocess.run(qz + list(args), capture_output=True, text=True, timeout=120)

    def check_names(what, text):
        f = frames(text)
        if len(f) < 2:
            problems.append("%s: fewer than two frames:\n%s" % (what, text))
            return
        if "[%s+" % shown[0] not in f[0]:
            problems.append("%s: frame 0 is not in %s:\n%s" % (what, shown[0], f[0]))
        if "[%s+" % shown[1] not in f[1]:
            problems.append("%s: frame 1 is not in %s:\n%s" % (what, shown[1], f[1]))

    own = run("trace")
    if own.returncode != 0 or not own.stdout.lstrip().startswith("STACK TRACE"):
        problems.append("qz trace: status %d, %r" % (own.returncode, own.stdout[:200] + own.stderr))
    check_names("qz trace", own.stdout)

    with tempfile.TemporaryDirectory(prefix="qz-trace-") as work:
        dump = os.path.join(work, "crash.dmp")
        if a.kind == "win32":
            dump = "Z:" + dump.replace("/", "\\")
        fault = run("trace", "--fault", "--dump", dump)
        if fault.returncode != 0 or "exception C0000005" not in fault.stdout:
            problems.append("qz trace --fault: status %d, %r" % (fault.returncode, fault.stdout + fault.stderr))
        check_names("qz trace --fault", fault.stdout)
        again = run("dump", dump)
        if again.returncode != 0 or frames(again.stdout) != frames(fault.stdout):
            problems.append("qz dump does not show the trace again: %r" % (again.stdout + again.stderr))

        plain = os.path.join(work, "plain.txt")
        with open(plain, "wb") as f:
            f.write(b"not a dump\r\n")
        with open(os.path.join(work, "two.dmp"), "wb") as f:
            f.write(b"\xff\xfe" + "one\r\ntwo \u20ac\r\n".encode("utf-16-le"))
        name = (lambda p: "Z:" + p.replace("/", "\\")) if a.kind == "win32" else (lambda p: p)
        refused = run("dump", name(plain))
        if refused.returncode != 1 or "not a dump file" not in refused.stderr:
            problems.append("qz dump of a text file: status %d, %r" % (refused.returncode, refused.stderr))
        shown_text = run("dump", name(os.path.join(work, "two.dmp")))
        if shown_text.returncode != 0 or shown_text.stdout.replace("\r\n", "\n") != "one\ntwo \u20ac\n":
            problems.append("qz dump: status %d, %r" % (shown_text.returncode, shown_text.stdout))

    for p in problems:
        print(p)
    print("qz trace and dump:", "as expected" if not problems else "%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
