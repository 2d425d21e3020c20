"""What the differential checks share: loading the native library with the
signatures they call, calling it in a child process (so that a crash is an
answer, not the end of the check), and the signal that ends a check at its
first difference."""

import ctypes
import mmap
import json
import os
import struct
import sys
import traceback


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


def in_child(call, show=repr, leave=None):
    """show(call()) computed in a forked child, or "crashed with signal N".
    The child ends with leave() when given (a normal exit runs the unload work
    of the libraries it loaded; os._exit skips it)."""
    sys.stdout.flush()
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(read_end)
        try:
            answer = show(call()).encode()
            while answer:
                answer = answer[os.write(write_end, answer):]
            os.close(write_end)
            if leave:
                leave()
        finally:
            os._exit(0)
    os.close(write_end)
    chunks = []
    while True:
        chunk = os.read(read_end, 1 << 16)
        if not chunk:
            break
        chunks.append(chunk)
    os.close(read_end)
    answer = b"".join(chunks)
    _, status = os.waitpid(child, 0)
    if os.WIFSIGNALED(status):
        return "crashed with signal %d" % os.WTERMSIG(status)
    return answer.decode()


def each_in_child(count, step, keep_going=True):
    """Runs step(i) for i in range(count) in forked children, so that a crash
    names its input instead of ending the check. step returns how many
    differences it found, or raises Differences to end the run. Returns
    (differences, [(i, how) for each child that died inside step(i)]); a death
    counts as a difference, and with keep_going the run goes on behind it in a
    new child."""
    shared = mmap.mmap(-1, 16)  # the index being run, the differences so far
    found, deaths, start = 0, [], 0
    while start < count:
        shared[:16] = struct.pack("<qq", start, 0)
        sys.stdout.flush()
        child = os.fork()
        if child == 0:
            code = 0
            try:
                differences = 0
                for i in range(start, count):
                    shared[:8] = struct.pack("<q", i)
                    differences += step(i)
                    shared[8:16] = struct.pack("<q", differences)
            except Differences:
                code = 3
            except BaseException:
                traceback.print_exc()
                code = 4
            finally:
                sys.stdout.flush()
                sys.stderr.flush()
                os._exit(code)
        _, status = os.waitpid(child, 0)
        at, differences = struct.unpack("<qq", shared[:16])
        found += differences
        if os.WIFSIGNALED(status):
            how = "crashed with signal %d" % os.WTERMSIG(status)
        elif os.WEXITSTATUS(status) == 0:
            break
        elif os.WEXITSTATUS(status) == 3:
            found += 1
            break
        elif os.WEXITSTATUS(status) == 4:
            unusable("each_in_child", "the check itself failed at input %d" % at)
        else:
            how = "ended with status %d" % os.WEXITSTATUS(status)  # a sanitizer's report
        deaths.append((at, how))
        found += 1
        if not keep_going:
            break
        start = at + 1
    return found, deaths
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
