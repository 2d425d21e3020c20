#!/usr/bin/env python3
"""Differential check of Ferrow's wildcard matchers against wildcardmodel.

    wildcarddiff.py LIBRARY [--count N] [--seed S] [--keep-going] [--no-fault-checks]

Asks FU_wildcard_icmp and FU_wildcard_cmp of the native library and of the
model about the same pairs: worked examples, NULL arguments, every pair of
short strings over a small alphabet, very long inputs, and N generated
patterns (reproducible from the seed), each with names made from it by
expanding its wildcards, then mutated, and a few unrelated ones. On a
disagreement it prints the pair and both answers and exits 1 (after the first
one, or after all with --keep-going). Exit 2: the library cannot be loaded or
lacks a matcher.
"""

import argparse
import ctypes
import os
import random
import sys
from ctypes import c_int, c_uint16, c_void_p

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import difftools  # noqa: E402
import wildcardmodel as model  # noqa: E402
from difftools import Differences  # noqa: E402

MATCHERS = (("FU_wildcard_icmp", model.wildcard_icmp), ("FU_wildcard_cmp", model.wildcard_cmp))


def load(path):
    return difftools.load("wildcarddiff", path, {name: (c_int, [c_void_p, c_void_p]) for name, _ in MATCHERS})


def wide(text):
    """A zero-terminated UTF-16 array holding text, or None for NULL."""
    if text is None:
        return None
    return (c_uint16 * (len(text) + 1))(*[ord(c) for c in text], 0)


def shown(text):
    if text is not None and len(text) > 60:
        return "%r... (%d units)" % (text[:60], len(text))
    return repr(text)


class Checker:
    def __init__(self, lib, keep_going):
        self.lib = lib
        self.keep_going = keep_going
        self.found = 0
        self.pairs = 0

    def report(self, function, args, native, expected):
        self.found += 1
        print("DIFFERENCE in %s(%s)" % (function, ", ".join(args)))
        print("    native: %s" % native)
        print("    model:  %s" % expected)
        sys.stdout.flush()
        if not self.keep_going:
            raise Differences()

    def pair(self, pattern, name):
        self.pairs += 1
        p, n = wide(pattern), wide(name)
        for function, fn in MATCHERS:
            native = getattr(self.lib, function)(p, n)
            expected = fn(pattern, name)
            if native != expected:
                self.report(function, (shown(pattern), shown(name)), native, expected)

    # Unreadable arguments: the matchers run under a guard and answer 0. Each
    # call runs in a child process so that a crash is reported, not fatal.
    def faults(self):
        bad = 0x10  # an address no process maps
        text = wide("*.txt")
        cases = [("unreadable", "'*.txt'", bad, ctypes.addressof(text)),
                 ("'*.txt'", "unreadable", ctypes.addressof(text), bad)]
        for function, _ in MATCHERS:
            for shown_p, shown_n, p, n in cases:
                call = getattr(self.lib, function)
                native = difftools.in_child(lambda: call(p, n), str)
                self.pairs += 1
                if native != "0":
                    self.report(function, (shown_p, shown_n), native, "0")


# ---- inputs -----------------------------------------------------------------

RNG = random.Random()

# Units whose case changes outside the C locale only, neighbours of the letters
# that a sloppy fold (| 0x20, & ~0x20) would confuse, look-alikes of the
# wildcards, and surrogate halves.
WIDE = ("\u00e9\u00c9\u00ff\u0178\u017f\u0131\u0130\u00e0\u00c0\u03c9\u03a9\u0430\u0410"
        "\uff0a\uff1f\uff0e\u00b7\ud800\udc00\uffff\u0100\u0101")
NEIGHBOURS = "@[`{^~_\x7f\x01 "
# (weight, characters)
PATTERN_ALPHABET = [(14, "*"), (9, "?"), (10, "."), (30, "abAB"), (8, "cxyzCXYZ"),
                    (3, NEIGHBOURS), (4, WIDE)]
NAME_ALPHABET = [(2, "*"), (2, "?"), (10, "."), (30, "abAB"), (8, "cxyzCXYZ"),
                 (3, NEIGHBOURS), (4, WIDE)]


def pick(alphabet):
    weights = [w for w, _ in alphabet]
    return RNG.choice(RNG.choices(alphabet, weights)[0][1])


def text(alphabet, low, high):
    return "".join(pick(alphabet) for _ in range(RNG.randint(low, high)))


def other_case(c):
    if "a" <= c <= "z" or "A" <= c <= "Z":
        return c.swapcase()
    partners = {"\u00e9": "\u00c9", "\u00c9": "\u00e9", "\u00ff": "\u0178", "\u0178": "\u00ff",
                "\u017f": "S", "\u0131": "I", "\u0130": "i", "\u00e0": "\u00c0",
                "\u00c0": "\u00e0", "\u03c9": "\u03a9", "\u03a9": "\u03c9", "\u0430": "\u0410",
                "\u0410": "\u0430", "\u0100": "\u0101", "\u0101": "\u0100", "@": "`", "`": "@",
                "[": "{", "{": "[", "^": "~", "~": "^"}
    return partners.get(c, c)


def pattern():
    roll = RNG.random()
    if roll < 0.1:
        return RNG.choice(("*", "*.*", "*.", "**", "*.txt", "*.TXT", "a*", "*a*", "?*", "*?"))
    return text(PATTERN_ALPHABET, 0, RNG.choice((4, 8, 14)))


def expand(pat):
    """A name the pattern was meant for: wildcards filled in, letters in
    either case, and the character behind a "*" sometimes met early."""
    out = []
    i = 0
    while i < len(pat):
        c = pat[i]
        if c == "*":
            filler = text(NAME_ALPHABET, 0, RNG.choice((0, 2, 5)))
            if i + 1 < len(pat) and RNG.random() < 0.3:
                spot = RNG.randint(0, len(filler))
                early = pat[i + 1]
                if RNG.random() < 0.5:
                    early = other_case(early)
                filler = filler[:spot] + early + filler[spot:]
            out.append(filler)
        elif c == "?":
            out.append(pick(NAME_ALPHABET))
        else:
            out.append(other_case(c) if RNG.random() < 0.35 else c)
        i += 1
    return "".join(out)


def mutate(name):
    for _ in range(RNG.randint(1, 3)):
        i = RNG.randint(0, len(name))
        roll = RNG.randrange(6)
        if roll == 0:
            name = name[:i] + pick(NAME_ALPHABET) + name[i:]
        elif roll == 1:
            name = name[:i] + name[i + 1:]
        elif roll == 2 and i < len(name):
            name = name[:i] + other_case(name[i]) + name[i + 1:]
        elif roll == 3:
            name = name[:i]
        elif roll == 4 and i < len(name):
            name = name[:i] + name[i] + name[i:]
        else:
            name = name + RNG.choice((".", ".txt", "x", "A"))
    return name


def names_for(pat):
    names = [expand(pat) for _ in range(3)]
    names += [mutate(expand(pat)) for _ in range(3)]
    names.append(text(NAME_ALPHABET, 0, 10))
    return names


def short_strings(alphabet, longest):
    layer = [""]
    yield ""
    for _ in range(longest):
        layer = [s + c for s in layer for c in alphabet]
        yield from layer


def long_inputs():
    return [("*" + "a" * 5000 + "*", "x" + "A" * 5000 + "y"),
            ("?" * 70000, "b" * 70000),
            ("?" * 70000, "b" * 69999),
            ("*z", "a" * 100000 + "Z"),
            ("*.*", "a" * 100000),
            ("a*" * 3000 + "b", "aA" * 3000 + "b")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library", help="the native Ferrow library, e.g. build/native/bin/libferrow.so")
    parser.add_argument("--count", type=int, default=5000, help="generated patterns (default 5000)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    parser.add_argument("--no-fault-checks", action="store_true",
                        help="skip unreadable arguments (for sanitized builds)")
    args = parser.parse_args()

    RNG.seed(args.seed)
    checker = Checker(load(args.library), args.keep_going)
    try:
        if not args.no_fault_checks:
            checker.faults()
        for pat, name, _, _ in model.EXAMPLES:
            checker.pair(pat, name)
        for pat in (None, "", "*", "a"):
            checker.pair(pat, None)
            checker.pair(None, pat)
        shorts = list(short_strings("*?.aA", 3))
        names = list(short_strings(".aA*?b", 3))
        for pat in shorts:
            for name in names:
                checker.pair(pat, name)
        for pat, name in long_inputs():
            checker.pair(pat, name)
        for _ in range(args.count):
            pat = pattern()
            for name in names_for(pat):
                checker.pair(pat, name)
    except Differences:
        pass
    if checker.found:
        print("wildcarddiff: %d difference(s) in %d pairs" % (checker.found, checker.pairs))
        return 1
    print("wildcarddiff: %d pairs agreed on both matchers (seed %d)" % (checker.pairs, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
