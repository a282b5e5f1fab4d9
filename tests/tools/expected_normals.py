#!/usr/bin/env python3
"""Works out the "vn" lines that the OBJ writer tests expect, independently of
the C++ code: float32 rounding is emulated with struct, double arithmetic is
Python's own float."""
import math
import struct


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def normal(p0, p1, p2):
    u = [f32(a - b) for a, b in zip(p2, p1)]
    w = [f32(a - b) for a, b in zip(p0, p1)]
    n = [f32(u[1] * w[2] - u[2] * w[1]),
         f32(u[2] * w[0] - u[0] * w[2]),
         f32(u[0] * w[1] - u[1] * w[0])]
    length = f32(math.sqrt(f32((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2])))
    return [f32(c / length) for c in n]


TRIANGLES = [
    ((0, 0, 0), (1, 0, 0), (0, 1, 1)),
    ((0.1, 0.2, 0.3), (1.7, -2.3, 0.9), (-4.1, 5.5, 2.2)),
    ((1e-3, 2e-3, 0), (3e-3, -1e-3, 5e-3), (7e-3, 7e-3, -2e-3)),
    ((1000.5, -20.25, 3.125), (-7.75, 600.0, 12.5), (44.0, 44.0, -900.0)),
]

for triangle in TRIANGLES:
    corners = [[f32(c) for c in corner] for corner in triangle]
    n = normal(*corners)
    print("vn %f %f %f" % (n[2], n[1], n[0]))
