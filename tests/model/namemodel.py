#!/usr/bin/env python3
"""A plain model of Dravel's TranslateExportedName, written for clarity.

A name and the text written are bytes (no terminator). translate(name)
returns (result, text): 1 when a rule made the text, 0 when the name was
copied unchanged. What the function does, in order:
- it works on its own copy of at most the first 255 bytes of the name, so a
  longer name is read as its first 255 bytes;
- the first rule that fits makes the text (each "up to" excludes the
  character named; "the first @" and "the first @@" are searched from the
  start of the name):
  1. "_...": with an "@", the last "@" splits it:
     "__stdcall NAME(ARGS byte(s))"; without one "__cdecl NAME";
  2. anything but "?...": "pascal NAME";
  3. "?..." but not "??...": needs an "@@"; the member runs from after the
     "?" to the first "@", the class from after the first "@" to the "@@".
     A digit after the "@@" makes "static CLASS::MEMBER"; else a first "@"
     that begins the "@@" makes "::MEMBER(...)", any other
     "CLASS::MEMBER(...)";
  4. "??_...": needs an "@"; "TEXT::(MS C++ internal)" with the text from the
     fifth byte to the first "@";
  5. "??...": needs an "@@"; the class runs from the fourth byte to it, and
     the third byte says what the member is (constructor, destructor, new,
     delete, assignment, or an operator of unknown type);
  6. the name unchanged, result 0;
- a piece whose end lies before its start (an "@" inside the "??_" or
  "??X" head) is empty: the name is never read outside itself;
- the text is cut at 255 bytes; the caller's 256-byte buffer always holds a
  terminator behind it.

Run this file to check the model against worked examples.
"""

import sys

COPY = 255     # bytes of the name the function looks at
LIMIT = 255    # bytes of text before the terminator


def _piece(name, start, end):
    return name[start:end] if end > start else b""


def _rules(s):
    """(result, text before the cut) for the name as the copy holds it."""
    if s.startswith(b"_"):
        at = s.rfind(b"@")
        if at >= 0:
            return 1, b"__stdcall %s(%s byte(s))" % (s[1:at], s[at + 1:])
        return 1, b"__cdecl %s" % s[1:]
    if not s.startswith(b"?"):
        return 1, b"pascal %s" % s

    if not s.startswith(b"??"):
        pair = s.find(b"@@")
        if pair >= 0:
            at = s.find(b"@")
            member = s[1:at]
            klass = s[at + 1:pair]
            if s[pair + 2:pair + 3].isdigit():
                return 1, b"static %s::%s" % (klass, member)
            if at == pair:
                return 1, b"::%s(...)" % member
            return 1, b"%s::%s(...)" % (klass, member)
        return 0, s

    if s.startswith(b"??_"):
        at = s.find(b"@")
        if at >= 0:
            return 1, b"%s::(MS C++ internal)" % _piece(s, 4, at)
        return 0, s

    pair = s.find(b"@@")
    if pair < 0:
        return 0, s
    klass = _piece(s, 3, pair)
    after = pair + 2
    rest = s[after:]

    def up_to_next_at():
        at = s.find(b"@", after)
        return None if at < 0 else s[after:at]

    kind = s[2:3]
    if kind == b"0":
        ats = rest.count(b"@")
        if ats == 0:
            return 0, s
        if ats == 1:
            return 1, b"%s::%s()" % (klass, klass)
        second = s.find(b"@@", after)
        if second >= 0 and s[second - 1:second] == b"0":
            return 1, b"%s::%s(%s &)" % (klass, klass, klass)
        return 1, b"%s::%s(%s)" % (klass, klass, up_to_next_at())
    if kind == b"1":
        return 1, b"%s::~%s()" % (klass, klass)
    if kind in (b"2", b"3"):
        arg = up_to_next_at()
        if arg is None:
            return 0, s
        op = b"new" if kind == b"2" else b"delete"
        return 1, b"%s::operator %s(%s)" % (klass, op, arg)
    if kind == b"4":
        return 1, b"%s::operator =" % klass
    return 1, b"%s::operator (type unknown)" % klass


def translate(name):
    """(result, text) for a name given as bytes without its terminator."""
    result, text = _rules(name[:COPY])
    return result, text[:LIMIT]


# (name, result, text)
EXAMPLES = [
    (b"_Sleep@4", 1, b"__stdcall Sleep(4 byte(s))"),
    (b"_main", 1, b"__cdecl main"),
    (b"??1CFoo@@QAE@XZ", 1, b"CFoo::~CFoo()"),
    (b"??0CFoo@@QAE@ABV0@@Z", 1, b"CFoo::CFoo(CFoo &)"),
    (b"??0CFoo@@QAE@PBG@Z", 1, b"CFoo::CFoo(QAE)"),
    (b"?Run@CFoo@@QAEHXZ", 1, b"CFoo::Run(...)"),
    (b"?count@CFoo@@2HA", 1, b"static CFoo::count"),
    (b"??_7CFoo@@6B@", 1, b"CFoo::(MS C++ internal)"),
    (b"Export1", 1, b"pascal Export1"),
    (b"?Init@@YAXXZ", 1, b"::Init(...)"),
    (b"??0CFoo", 0, b"??0CFoo"),
    (b"??1CFoo@QAE@XZ", 0, b"??1CFoo@QAE@XZ"),
    # The last "@" splits a standard-call name; the first "@" of a member.
    (b"_a@b@12", 1, b"__stdcall a@b(12 byte(s))"),
    (b"_@", 1, b"__stdcall ( byte(s))"),
    (b"_", 1, b"__cdecl "),
    (b"", 1, b"pascal "),
    (b"?a@b@c@@QAEXXZ", 1, b"b@c::a(...)"),
    (b"?x@@2HA", 1, b"static ::x"),
    (b"?Run@CFoo", 0, b"?Run@CFoo"),
    (b"?@@", 1, b"::(...)"),
    # Constructors: no "@" after the "@@", one, more with and without a
    # second "@@" behind a "0".
    (b"??0CFoo@@", 0, b"??0CFoo@@"),
    (b"??0CFoo@@QAE@", 1, b"CFoo::CFoo()"),
    (b"??0CFoo@@QAE@@Z", 1, b"CFoo::CFoo(QAE)"),
    (b"??0CFoo@@@@", 1, b"CFoo::CFoo()"),
    (b"??0A@@x@0@@", 1, b"A::A(A &)"),
    (b"??2CFoo@@SAPAXI@Z", 1, b"CFoo::operator new(SAPAXI)"),
    (b"??3CFoo@@SAXPAX@Z", 1, b"CFoo::operator delete(SAXPAX)"),
    (b"??2CFoo@@SAPAXI", 0, b"??2CFoo@@SAPAXI"),
    (b"??4CFoo@@QAEAAV0@ABV0@@Z", 1, b"CFoo::operator ="),
    (b"??8CFoo@@QBE_NABV0@@Z", 1, b"CFoo::operator (type unknown)"),
    (b"??@@", 1, b"::operator (type unknown)"),
    (b"??_@x@", 1, b"::(MS C++ internal)"),
    (b"??_", 0, b"??_"),
    (b"??_R0?AVCFoo@@@8", 1, b"0?AVCFoo::(MS C++ internal)"),
]


def _bounds(failures):
    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    # The copy: byte 256 of a name is never seen.
    for length in (254, 255, 256, 300):
        name = b"_" + b"f" * (length - 1)
        want_name = name[:255]
        check("cdecl of %d bytes" % length, translate(name), (1, (b"__cdecl " + want_name[1:])[:255]))
    check("copy of 256 bytes", translate(b"?" + b"x" * 255), (0, b"?" + b"x" * 254))
    # A name whose "@@" lies at bytes 255 and 256 has none in the copy.
    name = b"?" + b"a" * 253 + b"@@" + b"2HA"
    check("@@ cut off", translate(name), (0, name[:255]))
    # The text: 255 bytes whatever its length would have been.
    klass = b"C" * 100
    result, text = translate(b"??0" + klass + b"@@x@0@@")
    check("three classes cut", (result, len(text)), (1, 255))
    check("three classes text", text, (b"%s::%s(%s &)" % (klass, klass, klass))[:255])
    result, text = translate(b"Q" * 248)
    check("pascal of 248", (result, text), (1, b"pascal " + b"Q" * 248))
    result, text = translate(b"Q" * 249)
    check("pascal of 249", (result, text), (1, (b"pascal " + b"Q" * 249)[:255]))


def selftest():
    failures = []
    for name, result, text in EXAMPLES:
        got = translate(name)
        if got != (result, text):
            failures.append("translate(%r): got %r, want %r" % (name, got, (result, text)))
    _bounds(failures)
    for line in failures:
        print(line)
    print("name model self-test: %s" % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
