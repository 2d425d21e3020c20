#!/usr/bin/env python3
"""qz exports against the PE tools: for each DLL, the ordinals, RVAs, names and
forwarders `qz exports` lists are exactly those `objdump -p` shows, and qz
finds nothing wrong with the table.

usage: exports_objdump.py OBJDUMP QZ [--emulator WINE] FILE...
"""
import argparse
import re
import subprocess
import sys


def objdump_exports(objdump, path):
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    base, rvas, forwards, names = 1, {}, {}, {}
    section = None
    for line in out.splitlines():
        m = re.match(r"Export Address Table -- Ordinal Base (\d+)", line)
        if m:
            base, section = int(m.group(1)), "eat"
            continue
        if "[Ordinal/Name Pointer] Table" in line:
            section = "names"
            continue
        if not line.strip():
            section = None
            continue
        if section == "eat":
            m = re.match(r"\s*\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) (Export|Forwarder) RVA(?: -- (.*))?$", line)
            if m:
                rvas[int(m.group(1))] = int(m.group(2), 16)
                if m.group(3) == "Forwarder":
                    forwards[int(m.group(1))] = m.group(4).strip()
        elif section == "names":
            m = re.match(r"\s*\[\s*(\d+)\] (\S+)$", line)
            if m:
                names.setdefault(int(m.group(1)), []).append(m.group(2))
    rows = set()
    for index, rva in rvas.items():
        if rva == 0:
            continue
        for name in names.get(index, [None]):
            rows.add((base + index, rva, name, forwards.get(index)))
    return rows


def qz_exports(command, path):
    run = subprocess.run(command + ["exports", path], capture_output=True, text=True)
    rows = set()
    for line in run.stdout.splitlines():
        m = re.match(r"\s+(\d+)\s+([0-9A-F]{8})\s+(.*)$", line)
        if not m:
            continue
        rest = m.group(3)
        name = None if rest.startswith("(by ordinal only)") else rest.split()[0]
        f = re.search(r"-> (\S+) \(forwarder\)$", rest)
        rows.add((int(m.group(1)), int(m.group(2), 16), name, f.group(1) if f else None))
    return run.returncode, run.stderr, rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("objdump")
    ap.add_argument("qz")
    ap.add_argument("--emulator", default=None)
    ap.add_argument("files", nargs="+")
    a = ap.parse_args()
    command = ([a.emulator] if a.emulator else []) + [a.qz]
    failed = 0
    for path in a.files:
        expected = objdump_exports(a.objdump, path)
        status, errors, listed = qz_exports(command, path)
        problems = []
        if status != 0:
            problems.append("exit status %d: %s" % (status, errors.strip()))
        if not expected:
            problems.append("objdump shows no exports: nothing to compare")
        for row in sorted(expected - listed, key=str):
            problems.append("missing from qz: %r" % (row,))
        for row in sorted(listed - expected, key=str):
            problems.append("not in objdump: %r" % (row,))
        for p in problems:
            print("%s: %s" % (path, p))
        print("%s: %d exports, %s" % (path, len(expected), "agree" if not problems else "DISAGREE"))
        failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
