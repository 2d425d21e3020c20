#!/usr/bin/env python3
"""Text still buffered for the dump file is written when the process exits,
also when the library was loaded at run time (here by ctypes, with everything
it needs): its unload work then runs after the exit handlers of the libraries
it brought in, and must still find their state.

usage: late_unload.py LIBDRAVEL
"""
import os
import subprocess
import sys
import tempfile

CHILD = r"""
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
wide = lambda s: ctypes.create_string_buffer(s.encode("utf-16-le") + b"\0\0")
path, fmt = wide(sys.argv[2]), wide("left %d\n")
lib.dmp_output(path)
lib.dmp_printf(0, 0, fmt, 5)
ctypes.CDLL(None).exit(0)
"""


def main():
    with tempfile.TemporaryDirectory(prefix="dravel-late-") as work:
        dump = os.path.join(work, "left.dmp")
        run = subprocess.run([sys.executable, "-c", CHILD, sys.argv[1], dump], capture_output=True, text=True)
        got = open(dump, "rb").read() if os.path.exists(dump) else None
        expected = b"\xff\xfe" + "left 5\r\n".encode("utf-16-le")
        if run.returncode != 0 or got != expected:
            print("status %d, file %r, expected %r %s" % (run.returncode, got, expected, run.stderr))
            return 1
        print("late-loaded library: buffered text written at exit")
        return 0


if __name__ == "__main__":
    sys.exit(main())
