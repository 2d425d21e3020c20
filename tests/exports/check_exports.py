#!/usr/bin/env python3
"""Checks a library's export table against the lists of names it must export.

A list holds one name a line: a flat function (undecorated; on win32 the
stdcall forms Name@N and _Name@N count too, or a name as it stands), a qualified C++ function `NS::Name` (every
overload of it), or `class NAME` for every member of an exported class. A line
that starts with `win32:` or `native:` holds for that target only. Every
listed name must be exported, and nothing else may be.
"""
import argparse
import re
import subprocess
import sys


def native_exports(tool, lib):
    out = subprocess.run([tool, "-D", "--defined-only", "--extern-only", lib],
                         check=True, capture_output=True, text=True).stdout
    names = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3:
            names.append(parts[2])
    # AddressSanitizer marks each exported variable with an __odr_asan.NAME symbol of its own.
    return [n for n in names if n not in ("_init", "_fini", "_edata", "_end", "__bss_start")
            and not n.startswith("__odr_asan")]


def win32_exports(tool, lib):
    out = subprocess.run([tool, "-p", lib], check=True, capture_output=True, text=True).stdout
    names, inside = [], False
    for line in out.splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            inside = True
            continue
        if inside:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if not m:
                if line.strip():
                    break
                continue
            names.append(m.group(1))
    return names


def undecorated(name):
    """Name for the stdcall forms Name@N and _Name@N; other names as they are."""
    m = re.match(r"^(_?)(.+)@\d+$", name)
    return m.group(2) if m else name


def demangle(names):
    if not names:
        return {}
    out = subprocess.run(["c++filt"], input="\n".join(names), check=True,
                         capture_output=True, text=True).stdout.splitlines()
    return dict(zip(names, out))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kind", choices=["native", "win32"], required=True)
    ap.add_argument("--tool", required=True, help="nm (native) or objdump (win32)")
    ap.add_argument("--lib", required=True)
    ap.add_argument("lists", nargs="+")
    a = ap.parse_args()

    functions, qualified, classes = set(), set(), set()
    for path in a.lists:
        with open(path) as f:
            for line in f:
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                target, sep, rest = line.partition(":")
                if sep and target in ("win32", "native") and not rest.startswith(":"):
                    if target != a.kind:
                        continue
                    line = rest.strip()
                if line.startswith("class "):
                    classes.add(line.split(None, 1)[1])
                elif "::" in line:
                    qualified.add(line)
                else:
                    functions.add(line)

    exported = native_exports(a.tool, a.lib) if a.kind == "native" else win32_exports(a.tool, a.lib)
    readable = demangle(exported)
    # A listed name is an export as it stands, or its stdcall forms.
    plain = {undecorated(n) for n in exported} | set(exported)

    def belongs_to_class(name):
        text = readable.get(name, name)
        return any(re.search(r"(^|[\s:*&(])%s::|(vtable|typeinfo|typeinfo name) for %s$" % (re.escape(c), re.escape(c)), text)
                   for c in classes)

    def qualified_name(name):
        text = readable.get(name, name)
        return text.split("(", 1)[0] if "(" in text else None

    exported_qualified = {qualified_name(n) for n in exported}
    missing = sorted(functions - plain) + sorted(qualified - exported_qualified)
    missing_classes = sorted(c for c in classes if not any(
        re.search(r"\b%s::" % re.escape(c), readable.get(n, n)) for n in exported))
    extra = sorted(n for n in exported
                   if undecorated(n) not in functions and n not in functions and not belongs_to_class(n)
                   and qualified_name(n) not in qualified)

    ok = True
    if missing or missing_classes:
        ok = False
        print("not exported:", ", ".join(missing + ["class " + c for c in missing_classes]))
    if extra:
        ok = False
        print("exported but not listed:", ", ".join(readable.get(n, n) for n in extra))
    print("%s: %d exports, %d listed functions, %d listed classes: %s"
          % (a.lib, len(exported), len(functions) + len(qualified), len(classes), "ok" if ok else "MISMATCH"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
