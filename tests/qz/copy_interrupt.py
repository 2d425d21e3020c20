#!/usr/bin/env python3
"""qz copy: an interrupt cancels the copy and leaves no partial file.

Starts `qz copy` on a large sparse file, waits until the copy has begun
writing, sends SIGINT, and checks that qz ends with status 1, says so, and that
the destination is gone while the source is untouched.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time


def main():
    qz = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="qz-interrupt-") as work:
        source = os.path.join(work, "big.bin")
        target = os.path.join(work, "out", "big-copy.bin")
        size = 4 << 30
        with open(source, "wb") as f:
            f.truncate(size)  # sparse: quick to make, slow enough to copy
        proc = subprocess.Popen([qz, "copy", source, target], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 60
        while time.time() < deadline and proc.poll() is None:
            if os.path.exists(target) and os.path.getsize(target) > 0:
                break
            time.sleep(0.01)
        if proc.poll() is not None:
            print("qz copy ended before it could be interrupted:", proc.returncode, proc.communicate())
            return 1
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60)
        problems = []
        if proc.returncode != 1:
            problems.append("exit status %r, not 1" % proc.returncode)
        if "interrupted" not in err:
            problems.append("no word of the interrupt on stderr: %r" % err[-300:])
        if os.path.exists(target):
            problems.append("a partial destination was left behind (%d bytes)" % os.path.getsize(target))
        if os.path.getsize(source) != size:
            problems.append("the source changed size")
        for p in problems:
            print("qz copy interrupt:", p)
        if not problems:
            print("qz copy interrupt: cancelled, nothing left behind")
        return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
