#!/usr/bin/env python3
"""Works out the "vn" lines that the OBJ writer tests expect, independently of
the C++ code: float32 rounding is emulated with struct, double arithmetic is
Python's own float.

    expected_normals.py            the lines of the fixed triangles below
    expected_normals.py --random   tests/data/random_normals.txt: random
                                   triangles on which the exact rounding
                                   shows, one per line as nine float bit
                                   patterns, "|" and the expected line
"""
import math
import random
import struct
import sys


def f32(x):
    """x rounded to the nearest float32; beyond its range, an infinity."""
    try:
        return struct.unpack('<f', struct.pack('<f', x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def bits(x):
    return '%08x' % struct.unpack('<I', struct.pack('<f', x))[0]


def divide(a, b):
    """a / b as IEEE-754 gives it, also for a zero or infinite b."""
    if b == 0:
        return math.nan if a == 0 else math.copysign(math.inf, a) * math.copysign(1, b)
    return a / b


def normal(p0, p1, p2, float_cross=False, unrounded_length=False):
    """The triangle's normal as the converter computes it; the two flags give
    the faults that the tests must catch instead."""
    u = [f32(a - b) for a, b in zip(p2, p1)]
    w = [f32(a - b) for a, b in zip(p0, p1)]

    def cross_term(a, b, c, d):
        if float_cross:
            return f32(f32(a * b) - f32(c * d))
        return f32(a * b - c * d)

    n = [cross_term(u[1], w[2], u[2], w[1]),
         cross_term(u[2], w[0], u[0], w[2]),
         cross_term(u[0], w[1], u[1], w[0])]
    squared = (n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]
    if not unrounded_length:
        squared = f32(squared)
    length = f32(math.sqrt(squared))
    return [f32(divide(c, length)) for c in n]


def vn_line(n):
    return "vn %f %f %f" % (n[2], n[1], n[0])


TRIANGLES = [
    ((0, 0, 0), (1, 0, 0), (0, 1, 1)),
    ((0.1, 0.2, 0.3), (1.7, -2.3, 0.9), (-4.1, 5.5, 2.2)),
    ((1e-3, 2e-3, 0), (3e-3, -1e-3, 5e-3), (7e-3, 7e-3, -2e-3)),
    ((1000.5, -20.25, 3.125), (-7.75, 600.0, 12.5), (44.0, 44.0, -900.0)),
]


def random_point(rng, scale):
    return [f32(rng.uniform(-scale, scale)) for _ in range(3)]


def thin_triangle(rng):
    """Nearly on one line: the cross product cancels, and float products lose
    what double products keep."""
    p0 = random_point(rng, 4096)
    step = random_point(rng, 64)
    t = rng.uniform(0.2, 5)
    p2 = [f32(a + t * d + rng.uniform(-1e-3, 1e-3)) for a, d in zip(p0, step)]
    p1 = [f32(a + d) for a, d in zip(p0, step)]
    return p0, p1, p2


def huge_triangle(rng):
    """Sides near 1e10: the squared length passes the float range, so only
    its rounding to float decides between a zero and a unit normal."""
    return tuple(random_point(rng, 4e10) for _ in range(3))


def differs(triangle, **fault):
    return vn_line(normal(*triangle)) != vn_line(normal(*triangle, **fault))


def random_cases(count_each=150):
    """count_each triangles that catch each fault, all with finite lines (the
    text of NaN differs between C libraries)."""
    rng = random.Random(20261207)
    cases = []
    for make, fault in ((thin_triangle, {'float_cross': True}), (huge_triangle, {'unrounded_length': True})):
        found = 0
        while found < count_each:
            triangle = make(rng)
            line = vn_line(normal(*triangle))
            if differs(triangle, **fault) and 'nan' not in line and 'inf' not in line:
                cases.append((triangle, line))
                found += 1
    return cases


def main():
    if sys.argv[1:] == ['--random']:
        for triangle, line in random_cases():
            print(' '.join(bits(c) for corner in triangle for c in corner) + '|' + line)
        return
    for triangle in TRIANGLES:
        corners = [[f32(c) for c in corner] for corner in triangle]
        print(vn_line(normal(*corners)))


if __name__ == '__main__':
    main()
