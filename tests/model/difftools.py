"""What the differential checks share: loading the native library with the
signatures they call, calling it in a child process (so that a crash is an
answer, not the end of the check), and the signal that ends a check at its
first difference."""

import ctypes
import os
import sys


class Differences(Exception):
    """Raised at a difference when the check does not keep going."""


def unusable(tool, message):
    print("%s: %s" % (tool, message), file=sys.stderr)
    sys.exit(2)


def load(tool, path, signatures):
    """The library at path with each function of signatures ({name: (restype,
    argtypes)}) declared; exits with 2 when it is missing or lacks one."""
    if not os.path.exists(path):
        unusable(tool, "no library at %s (build the ferrow target first)" % path)
    try:
        lib = ctypes.CDLL(os.path.abspath(path))
    except OSError as e:
        unusable(tool, "cannot load %s: %s" % (path, e))
    missing = []
    for name, (restype, argtypes) in signatures.items():
        try:
            fn = getattr(lib, name)
        except AttributeError:
            missing.append(name)
            continue
        fn.restype = restype
        fn.argtypes = argtypes
    if missing:
        unusable(tool, "%s does not export %s" % (path, ", ".join(missing)))
    return lib


def in_child(call, show=repr):
    """show(call()) computed in a forked child, or "crashed with signal N"."""
    sys.stdout.flush()
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(read_end)
        try:
            os.write(write_end, show(call()).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    answer = b""
    while True:
        chunk = os.read(read_end, 256)
        if not chunk:
            break
        answer += chunk
    os.close(read_end)
    _, status = os.waitpid(child, 0)
    if os.WIFSIGNALED(status):
        return "crashed with signal %d" % os.WTERMSIG(status)
    return answer.decode()
