#!/usr/bin/env python3
"""A plain model of Ferrow's two wildcard matchers, FU_wildcard_icmp and
FU_wildcard_cmp, written for clarity, not speed.

A pattern or name is a str of UTF-16 code units, or None for a NULL pointer.
The walk, as both matchers do it:
- a NULL pattern or name never matches;
- at the end of the pattern the answer is whether the name has ended too;
- "?" takes any one character, never the end of the name;
- "*" at the end of the pattern takes the rest of the name, even nothing;
  otherwise the character behind it is taken literally (even "*" or "?"): the
  name is advanced to its first occurrence, both are consumed and the walk
  goes on behind them; a first occurrence is never revised (no backtracking);
- the case-blind matcher alone forgives a name that ends while looking for
  the character behind "*", when the pattern from that character on is a
  piece of ".*" (so "*.*" and "*." take names without a dot, "**" any name
  that holds no "*");
- every other pattern character must equal the name's character: exactly, or
  after upper-casing both (C locale: only a..z change).

Run this file to check the model against worked examples.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pathmodel import upper, upper_text  # noqa: E402  (C-locale upper case, a..z only)

# What the rest of a pattern may be when a name ends while looking for the
# character behind "*" and the case-blind matcher still answers 1.
_FORGIVING = ".*"


def _same_exact(a, b):
    return a == b


def _same_folded(a, b):
    return upper(a) == upper(b)


def _walk(pattern, name, same, forgiving):
    if pattern is None or name is None:
        return 0
    p = n = 0
    while True:
        if p == len(pattern):
            return int(n == len(name))
        c = pattern[p]
        if c == "?":
            if n == len(name):
                return 0
            p += 1
            n += 1
        elif c == "*":
            if p + 1 == len(pattern):
                return 1
            wanted = pattern[p + 1]
            while n < len(name) and not same(name[n], wanted):
                n += 1
            if n == len(name):
                return int(forgiving and pattern[p + 1:] in _FORGIVING)
            p += 2
            n += 1
        else:
            if n == len(name) or not same(c, name[n]):
                return 0
            p += 1
            n += 1


def wildcard_icmp(pattern, name):
    return _walk(pattern, name, _same_folded, True)


def wildcard_cmp(pattern, name):
    return _walk(pattern, name, _same_exact, False)


# (pattern, name, icmp, cmp)
EXAMPLES = [
    ("*.TXT", "a.txt", 1, 0),
    ("*.txt", "a.txt", 1, 1),
    ("*.txt", "a.b.txt", 0, 0),
    ("*.*", "README", 1, 0),
    ("*.*", "a.b", 1, 1),
    ("*.*", "", 1, 0),
    ("*.", "README", 1, 0),
    ("*.", "a.", 1, 1),
    ("*.", "a.b", 0, 0),
    ("*", "", 1, 1),
    ("*", "anything at all", 1, 1),
    ("a?c", "ABC", 1, 0),
    ("a?c", "abc", 1, 1),
    ("a?c", "AC", 0, 0),
    ("a?c", "ac", 0, 0),
    ("abc*", "abc", 1, 1),
    ("abc*", "ABCdef", 1, 0),
    ("a*c", "abcbc", 0, 0),
    ("a*c", "abbbc", 1, 1),
    ("**", "README", 1, 0),
    ("**", "", 1, 0),
    ("**", "a*", 1, 1),
    ("**", "a*b", 0, 0),        # the "*" found is consumed; "b" is left over
    ("***", "abc", 0, 0),
    ("*?", "abc", 0, 0),        # "?" behind "*" is literal
    ("*?", "ab?", 1, 1),
    ("*?c", "a?c", 1, 1),
    ("*..", "abc", 0, 0),       # ".." is no piece of ".*"
    ("*.*x", "abc", 0, 0),
    ("x*.*", "X", 1, 0),
    ("?", "", 0, 0),
    ("", "", 1, 1),
    ("", "a", 0, 0),
    ("a", "", 0, 0),
    ("a", "ab", 0, 0),
    (None, "a", 0, 0),
    ("a", None, 0, 0),
    (None, None, 0, 0),
    ("*a", "bAb", 0, 0),
    ("*a", "bAa", 0, 1),        # case-blind, the first A is taken and "a" is left over
    ("\u00e9", "\u00c9", 0, 0),  # only a..z change case
    ("\u00ff", "\u0178", 0, 0),
    ("S", "\u017f", 0, 0),
    ("I", "\u0131", 0, 0),
    ("[", "{", 0, 0),           # no folding beyond the letters
    ("@", "`", 0, 0),
    ("*Z", "yz", 1, 0),
    ("\ud800", "\ud800", 1, 1),
]


def selftest():
    failures = []
    for pattern, name, want_i, want_c in EXAMPLES:
        got_i = wildcard_icmp(pattern, name)
        got_c = wildcard_cmp(pattern, name)
        if got_i != want_i:
            failures.append("icmp(%r, %r): got %d, want %d" % (pattern, name, got_i, want_i))
        if got_c != want_c:
            failures.append("cmp(%r, %r): got %d, want %d" % (pattern, name, got_c, want_c))
    # The case-blind walk is the exact walk over upper-cased text, except that
    # it forgives names that end early. (An exact match is not always a
    # case-blind one: "*a" matches "Aa" exactly, but case-blind the first A is
    # taken and "a" is left over.)
    alphabet = "aA*?."
    words = [""]
    layer = [""]
    for _ in range(3):
        layer = [w + c for w in layer for c in alphabet]
        words += layer
    for pattern in words:
        for name in words:
            folded = wildcard_cmp(upper_text(pattern), upper_text(name))
            if folded and not wildcard_icmp(pattern, name):
                failures.append("icmp(%r, %r) misses an exact match of the upper case"
                                % (pattern, name))
    for line in failures:
        print(line)
    print("wildcard model self-test: %s"
          % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
