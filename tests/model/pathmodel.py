#!/usr/bin/env python3
"""A plain model of Ferrow's path functions, written for clarity, not speed.

pathdiff.py compares the native library with it. Conventions:
- a path is a str of UTF-16 code units (only characters of the basic plane,
  lone surrogates allowed) or None for a NULL pointer;
- a position is an index into the path; the terminator of `p` is at len(p);
  None stands for a NULL pointer;
- a buffer that a function changes is a list of one-character strings that
  holds a "\\0" terminator somewhere; the functions change it in place,
  writing exactly the cells the library may write.

Run this file to check the model against worked examples.
"""

import sys

FIELDS = ("prefix", "prefixEnd", "protocol", "protocolEnd", "host", "hostEnd",
          "localInfo", "localInfoEnd", "filename", "filenameEnd", "extension")

# End fields that stand on the terminator when nothing sets them; the other
# fields stay NULL.
_ENDS_AT_TERMINATOR = ("protocolEnd", "hostEnd", "localInfoEnd", "filenameEnd")

# The characters FU_ValidatePath replaces (besides colons after the first).
_REPAIRED = '*?"<>|'
# The characters FU_IsValidName refuses.
_NOT_IN_NAMES = '\\/:?"<>|'


def is_sep(c):
    return c == "\\" or c == "/"


def upper(c):
    """Upper case of the C locale: only a..z change."""
    return chr(ord(c) - 32) if "a" <= c <= "z" else c


def upper_text(s):
    return "".join(upper(c) for c in s)


# ---- parsing ----------------------------------------------------------------

def parse(path, file_flag):
    """The record of FU_ParsePath as a dict of positions, or None on failure
    (the record is then all NULL)."""
    if not path:
        return None
    end = len(path)
    parts = dict.fromkeys(FIELDS)
    for field in _ENDS_AT_TERMINATOR:
        parts[field] = end

    for c in path:
        if ord(c) < 0x20 or c in "<>|":
            return None

    start = 0
    while start < end and path[start] == " ":
        start += 1
    if start == end:
        return None  # blanks only, with either file flag

    if path[start:start + 4] == "\\\\?\\":
        parts["prefix"] = start
        start += 4
        if upper_text(path[start:start + 4]) in ("UNC\\", "UNC/"):
            start += 4
            if start < end and is_sep(path[start]):
                return None
        parts["prefixEnd"] = start
    elif path[start:start + 4] == "\\\\.\\":
        if not file_flag:
            return None
        parts["prefix"] = start
        start += 4
        parts["prefixEnd"] = start

    colon = first_sep = last_sep = last_dot = None
    for i in range(start, end):
        c = path[i]
        if c == ":":
            if colon is not None:
                return None
            colon = i
        elif is_sep(c):
            if first_sep is None:
                first_sep = i
            elif i + 1 < end and is_sep(path[i + 1]):
                return None
            last_sep = i
        elif c == ".":
            last_dot = i

    if colon is not None:
        if colon == start:
            return None
        if first_sep is not None and first_sep < colon:
            return None
        # The scan keeps only the last dot: a dot before the colon fails the
        # parse when no dot follows it (a.b://h/f fails, a.b://h/f.x parses).
        if last_dot is not None and last_dot < colon:
            return None
        if colon - start >= 2:
            # A third slash has already failed the scan above.
            if path[colon + 1:colon + 3] != "//":
                return None
        else:
            letter = path[start]
            if not ("A" <= letter <= "Z" or "a" <= letter <= "z"):
                return None
            if is_sep(path[colon + 1:colon + 2]) and is_sep(path[colon + 2:colon + 3]):
                return None
        parts["protocol"] = start
        parts["protocolEnd"] = colon + 1
        start = colon + 1

    if first_sep is not None and path[first_sep + 1:first_sep + 2] == path[first_sep]:
        if first_sep != start:
            return None
        parts["host"] = first_sep
        if last_sep - first_sep >= 2:
            host_end = first_sep + 2
            while not is_sep(path[host_end]):
                host_end += 1
            parts["hostEnd"] = host_end
            start = host_end
        elif file_flag:
            return None
        else:
            return parts  # only a host, running to the terminator

    if not file_flag:
        if start < end:
            parts["localInfo"] = start
        return parts

    if last_sep is not None:
        if last_sep == end - 1:
            return None  # a file path needs a name
        parts["localInfo"] = start
        parts["localInfoEnd"] = last_sep + 1
        parts["filename"] = last_sep + 1
        if last_dot is not None and last_dot > last_sep:
            parts["filenameEnd"] = last_dot
            parts["extension"] = last_dot
    else:
        if path[start:start + 1] == ".":
            return None
        parts["filename"] = start
        if last_dot is not None:
            parts["filenameEnd"] = last_dot
            parts["extension"] = last_dot
    return parts


def parse_result(path, file_flag):
    """(result, the eleven fields) as the library reports them."""
    parts = parse(path, file_flag)
    if parts is None:
        return 0, (None,) * len(FIELDS)
    return 1, tuple(parts[f] for f in FIELDS)


def _field(path, file_flag, name):
    parts = parse(path, file_flag)
    return None if parts is None else parts[name]


def find_protocol(path, file_flag):
    return _field(path, file_flag, "protocol")


def find_host(path, file_flag):
    return _field(path, file_flag, "host")


def find_local_info(path, file_flag):
    return _field(path, file_flag, "localInfo")


def find_filename(path):
    return _field(path, 1, "filename")


def find_extension(path):
    return _field(path, 1, "extension")


def find_last_separator(path):
    if not path:
        return None
    found = None
    for i, c in enumerate(path):
        if is_sep(c) or c == ":":
            found = i
    return found


def find_next_slash(path, pos):
    """First separator at or after pos, or None."""
    for i in range(pos, len(path)):
        if is_sep(path[i]):
            return i
    return None


# ---- components -------------------------------------------------------------

_COMPONENTS = {1: ("prefix", "prefixEnd"), 2: ("protocol", "protocolEnd"),
               3: ("host", "hostEnd"), 4: ("localInfo", "localInfoEnd"),
               5: ("filename", "filenameEnd"), 6: ("extension", None)}

class _Untouched:
    def __repr__(self):
        return "<out untouched>"


UNTOUCHED = _Untouched()  # the out buffer was not written


def get_component(path, parts, index):
    """FU_GetComponent on the record `parts` of `path` (None: all NULL).
    Returns (result, text copied to out, or UNTOUCHED)."""
    if index == 0:
        return 1, ""
    if index > 6:
        return 0, UNTOUCHED
    begin_field, end_field = _COMPONENTS[index]
    begin = None if parts is None else parts[begin_field]
    if begin is None:
        return 0, ""
    end = len(path) if end_field is None else parts[end_field]
    return 1, path[begin:end]


def get_path_component(path, index):
    """FU_GetPathComponent. A failed parse gives 0; what out holds then is
    left open (UNTOUCHED here; the empty string is as good)."""
    if index > 6:
        return 0, UNTOUCHED
    parts = parse(path, 1)
    if parts is None:
        return 0, UNTOUCHED
    return get_component(path, parts, index)


# ---- buffers ----------------------------------------------------------------

def buffer_from(text, spare=0):
    return list(text) + ["\0"] + ["\0"] * spare


def text_of(buf):
    return "".join(buf[:buf.index("\0")])


def format_slashes(buf, sep):
    """FU_FormatSlashes; returns True (the path pointer)."""
    if buf[0] == "\0" or not is_sep(sep):
        return True
    i = 0
    while buf[i] != "\0":
        if is_sep(buf[i]):
            buf[i] = sep
        i += 1
    return True


def format_path(buf, sep):
    """FU_FormatPath with sep "\\0" for none; returns True (the path pointer)."""
    length = buf.index("\0")
    if length == 0:
        return True
    i = length - 1
    while i > 0 and buf[i] == " ":
        i -= 1
    if is_sep(buf[i]):
        buf[i] = sep
    elif sep != "\0":
        buf[i + 1] = sep
        buf[i + 2] = "\0"
    return True


def remove_extension(buf):
    parts = parse(text_of(buf), 1)
    if parts is None:
        return 0
    if parts["extension"] is not None:
        buf[parts["extension"]] = "\0"
    return 1


def remove_filename(buf):
    parts = parse(text_of(buf), 1)
    if parts is None:
        return 0
    if parts["filename"] is not None:
        buf[parts["filename"]] = "\0"
    return 1


def strip_to_root_path_name(buf, file_flag):
    path = text_of(buf)
    parts = parse(path, file_flag)
    if parts is None:
        return 0
    if parts["host"] is None:
        if parts["protocol"] is None:
            return 0
        buf[parts["protocolEnd"]] = "\0"
        return 1
    if parts["localInfo"] is None:
        return 0
    cut = find_next_slash(path, parts["localInfo"])
    if cut is not None:
        buf[cut] = "\0"
    return 1


def validate_path(buf, file_flag):
    """FU_ValidatePath on a non-NULL buffer (NULL gives 0)."""
    seen_colon = False
    i = 0
    while buf[i] != "\0":
        c = buf[i]
        if c == ":":
            if seen_colon:
                buf[i] = "_"
            seen_colon = True
        elif c in _REPAIRED:
            buf[i] = "_"
        i += 1
    return 1 if parse(text_of(buf), file_flag) is not None else 0


def is_valid_name(name):
    return 0 if any(c in _NOT_IN_NAMES for c in name) else 1


# ---- comparison -------------------------------------------------------------

def _fold(c):
    return upper("/" if c == "\\" else c)


def _at(s, i):
    return s[i] if i < len(s) else "\0"


def path_compare(a, b, same_pointer=False):
    """FU_PathCompare; same_pointer says both arguments are one pointer."""
    if same_pointer or (a is None and b is None):
        return 0
    if a is None:
        return -1
    if b is None:
        return 1
    if a == "":
        return 0 - ord(_at(b, 0))
    i = 0
    while i < len(a) and i < len(b):
        ca, cb = _fold(a[i]), _fold(b[i])
        if ca != cb:
            return ord(ca) - ord(cb)
        i += 1
    return ord(_at(a, i)) - ord(_at(b, i))


def is_path_contained(path, container, same_pointer=False):
    if same_pointer or (path is None and container is None):
        return 1
    if path is None or container is None:
        return 0
    i = 0
    while i < len(path) and i < len(container):
        if _fold(path[i]) != _fold(container[i]):
            return 0
        i += 1
    return 1 if i == len(container) else 0


# ---- self-test --------------------------------------------------------------

def components(path, file_flag):
    """The parse as {component: text}, None on failure; absent ones left out."""
    parts = parse(path, file_flag)
    if parts is None:
        return None
    shown = {}
    for index, name in ((1, "prefix"), (2, "protocol"), (3, "host"), (4, "local"),
                        (5, "file"), (6, "ext")):
        result, text = get_component(path, parts, index)
        if result:
            shown[name] = text
    return shown


def _c(**kw):
    return kw


# (path, file flag 1, file flag 0); None is a failed parse.
PARSE_EXAMPLES = [
    ("C:\\dir\\file.txt", _c(protocol="C:", local="\\dir\\", file="file", ext=".txt"),
     _c(protocol="C:", local="\\dir\\file.txt")),
    ("C:\\dir\\sub\\", None, _c(protocol="C:", local="\\dir\\sub\\")),
    ("C:", _c(protocol="C:", file=""), _c(protocol="C:")),
    ("C:\\", None, _c(protocol="C:", local="\\")),
    ("C:file.txt", _c(protocol="C:", file="file", ext=".txt"), _c(protocol="C:", local="file.txt")),
    ("\\\\server\\share\\dir\\file.txt",
     _c(host="\\\\server", local="\\share\\dir\\", file="file", ext=".txt"),
     _c(host="\\\\server", local="\\share\\dir\\file.txt")),
    ("\\\\server\\share", _c(host="\\\\server", local="\\", file="share"),
     _c(host="\\\\server", local="\\share")),
    ("\\\\server", None, _c(host="\\\\server")),
    ("\\\\?\\C:\\dir\\file.txt",
     _c(prefix="\\\\?\\", protocol="C:", local="\\dir\\", file="file", ext=".txt"),
     _c(prefix="\\\\?\\", protocol="C:", local="\\dir\\file.txt")),
    ("\\\\?\\UNC\\server\\share\\f.txt",
     _c(prefix="\\\\?\\UNC\\", local="server\\share\\", file="f", ext=".txt"),
     _c(prefix="\\\\?\\UNC\\", local="server\\share\\f.txt")),
    ("\\\\.\\COM1", _c(prefix="\\\\.\\", file="COM1"), None),
    ("media://server/clips/take1.avi",
     _c(protocol="media:", host="//server", local="/clips/", file="take1", ext=".avi"),
     _c(protocol="media:", host="//server", local="/clips/take1.avi")),
    ("media://server", None, _c(protocol="media:", host="//server")),
    ("dir\\file", _c(local="dir\\", file="file"), _c(local="dir\\file")),
    ("file.txt", _c(file="file", ext=".txt"), _c(local="file.txt")),
    (".txt", None, _c(local=".txt")),
    ("dir\\.txt", _c(local="dir\\", file="", ext=".txt"), _c(local="dir\\.txt")),
    ("C:/dir/f.tar.gz", _c(protocol="C:", local="/dir/", file="f.tar", ext=".gz"),
     _c(protocol="C:", local="/dir/f.tar.gz")),
    ("C:\\a\\b.c\\d", _c(protocol="C:", local="\\a\\b.c\\", file="d"),
     _c(protocol="C:", local="\\a\\b.c\\d")),
    ("\\/x", _c(local="\\/", file="x"), _c(local="\\/x")),
    ("   C:\\x.y", _c(protocol="C:", local="\\", file="x", ext=".y"),
     _c(protocol="C:", local="\\x.y")),
    ("C:\\dir\\  ", _c(protocol="C:", local="\\dir\\", file="  "),
     _c(protocol="C:", local="\\dir\\  ")),
    ("C:\\\\dir", None, None),
    ("a\\\\b", None, None),
    ("\\\\\\x", None, None),
    ("ab:cd", None, None),
    ("1:\\x", None, None),
    ("a.b:c", None, None),
    ("a:b:c", None, None),
    ("x<y", None, None),
    ("x>y", None, None),
    ("x|y", None, None),
    ("\tC:\\x", None, None),
    ("C:\\x\ty", None, None),
    ("    ", None, None),
    ("", None, None),
    (None, None, None),
    # Worked through by hand beyond the common cases.
    ("\\\\?\\unc/srv\\f", _c(prefix="\\\\?\\unc/", local="srv\\", file="f"),
     _c(prefix="\\\\?\\unc/", local="srv\\f")),
    ("\\\\?\\UNC\\\\srv", None, None),
    ("\\\\?\\", _c(prefix="\\\\?\\", file=""), _c(prefix="\\\\?\\")),
    ("\\\\.\\C:\\x", _c(prefix="\\\\.\\", protocol="C:", local="\\", file="x"), None),
    ("//?/x", _c(host="//?", local="/", file="x"), _c(host="//?", local="/x")),
    ("media:/x", None, None),
    ("media:\\\\host\\x", None, None),
    ("x.y://host/f", None, None),
    ("x.y://host/f.z", _c(protocol="x.y:", host="//host", local="/", file="f", ext=".z"),
     _c(protocol="x.y:", host="//host", local="/f.z")),
    ("a b://host/f", _c(protocol="a b:", host="//host", local="/", file="f"),
     _c(protocol="a b:", host="//host", local="/f")),
    ("C:/\\x", None, None),
    ("C:\\/x", None, None),
    ("C:.x", None, _c(protocol="C:", local=".x")),
    ("C:a.", _c(protocol="C:", file="a", ext="."), _c(protocol="C:", local="a.")),
    ("\\\\\\", None, None),
    ("\\\\h\\", None, _c(host="\\\\h", local="\\")),
    ("a?b*\"c", _c(file="a?b*\"c"), _c(local="a?b*\"c")),
    ("//", None, _c(host="//")),
    ("\\/\\x", None, None),
]


def _check(label, got, want, failures):
    if got != want:
        failures.append("%s: got %r, want %r" % (label, got, want))


def selftest():
    failures = []
    for path, want1, want0 in PARSE_EXAMPLES:
        _check("parse(%r, 1)" % (path,), components(path, 1), want1, failures)
        _check("parse(%r, 0)" % (path,), components(path, 0), want0, failures)

    # Whole records: absent end fields stand on the terminator, absent starts are NULL.
    _check("record C:\\d\\f.e", parse_result("C:\\d\\f.e", 1),
           (1, (None, None, 0, 2, None, 8, 2, 5, 5, 6, 6)), failures)
    _check("record C:", parse_result("C:", 1),
           (1, (None, None, 0, 2, None, 2, None, 2, 2, 2, None)), failures)
    _check("record \\\\srv flag 0", parse_result("\\\\srv", 0),
           (1, (None, None, None, 5, 0, 5, None, 5, None, 5, None)), failures)
    _check("record \\\\?\\x", parse_result("\\\\?\\x", 0),
           (1, (0, 4, None, 5, None, 5, 4, 5, None, 5, None)), failures)
    _check("record of a failure", parse_result("C:\\", 1), (0, (None,) * 11), failures)
    _check("any non-zero file flag", parse_result("C:\\d\\f", -7), parse_result("C:\\d\\f", 1),
           failures)

    _check("find_filename C:", find_filename("C:"), 2, failures)
    _check("find_filename C:\\", find_filename("C:\\"), None, failures)
    _check("find_extension a\\b.c\\d", find_extension("a\\b.c\\d"), None, failures)
    _check("find_protocol media:", find_protocol("media://h/x", 0), 0, failures)
    _check("find_host", find_host("  \\\\h\\x", 1), 2, failures)
    _check("find_local_info", find_local_info("C:x", 0), 2, failures)
    _check("find_local_info no local", find_local_info("C:", 0), None, failures)
    _check("last separator C:file", find_last_separator("C:file"), 1, failures)
    _check("last separator file", find_last_separator("file"), None, failures)
    _check("last separator a/b\\c:d", find_last_separator("a/b:c\\d"), 5, failures)
    _check("last separator empty", find_last_separator(""), None, failures)
    _check("last separator NULL", find_last_separator(None), None, failures)
    _check("next slash on a separator", find_next_slash("a\\b", 1), 1, failures)
    _check("next slash after", find_next_slash("a\\b/c", 2), 3, failures)
    _check("next slash none", find_next_slash("a\\bc", 2), None, failures)

    parts = parse("C:\\dir\\file.txt", 1)
    for index, want in ((0, (1, "")), (1, (0, "")), (2, (1, "C:")), (3, (0, "")),
                        (4, (1, "\\dir\\")), (5, (1, "file")), (6, (1, ".txt")),
                        (7, (0, UNTOUCHED)), (0xFFFFFFFF, (0, UNTOUCHED))):
        _check("get_component %d" % index, get_component("C:\\dir\\file.txt", parts, index),
               want, failures)
    _check("get_component of a cleared record", get_component("x", None, 4), (0, ""), failures)
    _check("get_path_component", get_path_component("\\\\s\\h\\f", 3), (1, "\\\\s"), failures)
    _check("get_path_component failed parse", get_path_component("C:\\", 0),
           (0, UNTOUCHED), failures)
    _check("get_path_component 7", get_path_component("C:\\x", 7), (0, UNTOUCHED), failures)

    def on_buffer(fn, text, *args):
        buf = buffer_from(text, 2)
        result = fn(buf, *args)
        return result, text_of(buf)

    for text, sep, want in (("C:\\dir", "\\", "C:\\dir\\"), ("C:\\dir\\", "\0", "C:\\dir"),
                            ("C:\\dir\\", "/", "C:\\dir/"), ("C:\\dir   ", "\\", "C:\\dir\\"),
                            ("C:\\dir", "\0", "C:\\dir"), ("C:\\dir\\  ", "\0", "C:\\dir"),
                            ("C:\\dir\\  ", "/", "C:\\dir/  "), ("", "\\", ""),
                            ("   ", "\\", " \\"), ("   ", "\0", "   "), ("\\", "\0", ""),
                            (" \\ ", "\0", " ")):
        _check("format_path(%r, %r)" % (text, sep), on_buffer(format_path, text, sep),
               (True, want), failures)
    for text, sep, want in (("C:\\a/b", "/", "C:/a/b"), ("C:\\a/b", "\\", "C:\\a\\b"),
                            ("C:\\a/b", "x", "C:\\a/b"), ("C:\\a/b", "\0", "C:\\a/b"),
                            ("", "/", "")):
        _check("format_slashes(%r, %r)" % (text, sep), on_buffer(format_slashes, text, sep),
               (True, want), failures)

    for text, want in (("C:\\dir\\file.txt", (1, "C:\\dir\\file")), ("C:\\d\\f", (1, "C:\\d\\f")),
                       ("C:\\d\\", (0, "C:\\d\\")), ("a.b\\c", (1, "a.b\\c"))):
        _check("remove_extension(%r)" % text, on_buffer(remove_extension, text), want, failures)
    for text, want in (("C:\\dir\\file.txt", (1, "C:\\dir\\")), ("C:", (1, "C:")),
                       ("f.txt", (1, "")), (".txt", (0, ".txt"))):
        _check("remove_filename(%r)" % text, on_buffer(remove_filename, text), want, failures)
    for text, flag, want in (("C:\\a\\b", 0, (1, "C:")), ("\\\\server\\share\\a", 0, (1, "\\\\server")),
                             ("a\\b", 0, (0, "a\\b")), ("media://server/dir", 0, (1, "media://server")),
                             ("media://server", 0, (0, "media://server")),
                             ("C:\\a\\", 1, (0, "C:\\a\\")), ("\\\\s\\f", 1, (1, "\\\\s")),
                             ("\\\\?\\C:\\x", 1, (1, "\\\\?\\C:"))):
        _check("strip_to_root(%r, %d)" % (text, flag), on_buffer(strip_to_root_path_name, text, flag),
               want, failures)
    for text, flag, want in (("C:\\a:b*c.txt", 1, (1, "C:\\a_b_c.txt")),
                             ("C:\\a<b>|\"?.x", 0, (1, "C:\\a_b____.x")),
                             ("", 0, (0, "")), ("a\tb:c", 0, (0, "a\tb:c")),
                             ("ab:c:d", 0, (0, "ab:c_d")), ("C:\\d\\", 1, (0, "C:\\d\\"))):
        _check("validate_path(%r, %d)" % (text, flag), on_buffer(validate_path, text, flag),
               want, failures)

    for a, b, want in (("C:\\Dir\\File", "c:/dir/file", 0), ("C:\\dir", "C:\\dir\\", -ord("\\")),
                       (None, None, 0), (None, "a", -1), ("a", None, 1), ("", "b", -ord("b")),
                       ("", "", 0), ("a\\", "a/", 0), ("a/", "a\\", 0), ("a\\", "aa", ord("/") - ord("A")),
                       ("ab", "aB", 0), ("a\u00e9", "a\u00c9", 0xE9 - 0xC9), ("abc", "ab", ord("c")),
                       ("a\\", "a", ord("\\")), ("a", "a\\", -ord("\\"))):
        _check("path_compare(%r, %r)" % (a, b), path_compare(a, b), want, failures)
    _check("path_compare same pointer", path_compare("x", "x", same_pointer=True), 0, failures)

    for path, container, want in (("C:\\dir\\sub", "c:/DIR", 1), ("C:\\dir", "C:\\dir\\sub", 0),
                                  ("C:\\x", "", 1), ("", "", 1), ("C:\\directory", "C:\\dir", 1),
                                  (None, "a", 0), ("a", None, 0), (None, None, 1),
                                  ("a\\b", "A/B", 1), ("ab", "ac", 0)):
        _check("is_path_contained(%r, %r)" % (path, container),
               is_path_contained(path, container), want, failures)

    for name, want in (("a*b", 1), ("a?b", 0), ("a/b", 0), ("", 1), ("a b.c", 1), ("a:b", 0),
                       ("a\\b", 0), ("\"", 0), ("<", 0), (">", 0), ("|", 0), ("a\tb", 1)):
        _check("is_valid_name(%r)" % name, is_valid_name(name), want, failures)

    for line in failures:
        print(line)
    print("path model self-test: %s" % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
