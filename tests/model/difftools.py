"""What the differential checks share: loading the native library with the
signatures they call, calling it in a child process (so that a crash is an
answer, not the end of the check), and the signal that ends a check at its
first difference."""

import ctypes
import json
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
        unusable(tool, "no library at %s (build its target first)" % path)
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


def in_batches(items, answer, batch=500):
    """(item, answer(item)) for each item, in order, with the answers (values
    JSON can carry) computed in forked children, batch items to a child. An
    item whose child dies gets "crashed with signal N" (or "exited with
    status N") and the rest of its batch goes on in a fresh child."""
    start = 0
    while start < len(items):
        chunk = items[start:start + batch]
        sys.stdout.flush()
        read_end, write_end = os.pipe()
        child = os.fork()
        if child == 0:
            os.close(read_end)
            status = 0
            try:
                for item in chunk:
                    os.write(write_end, (json.dumps(answer(item)) + "\n").encode())
            except BaseException:
                import traceback
                traceback.print_exc()
                sys.stderr.flush()
                status = 3
            finally:
                os._exit(status)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            answers = [json.loads(line) for line in pipe]
        _, status = os.waitpid(child, 0)
        for item, got in zip(chunk, answers):
            yield item, got
        start += len(answers)
        if len(answers) < len(chunk):
            if os.WIFSIGNALED(status):
                died = "crashed with signal %d" % os.WTERMSIG(status)
            else:
                died = "exited with status %d" % os.WEXITSTATUS(status)
            yield chunk[len(answers)], died
            start += 1
