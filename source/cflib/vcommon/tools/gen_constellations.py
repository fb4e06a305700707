#!/usr/bin/env python3
"""Builds the constellations of the trellis-coded rates and their inverse maps.

The decoder works on the lattice {(a, b): a + b odd} (units of 1024 after its scaling); subset s
of a point follows from (a mod 4, b mod 4):
    0 (0,1)  1 (1,2)  2 (2,3)  3 (1,0)  4 (0,3)  5 (3,2)  6 (2,1)  7 (3,0)
and a point's label is Y0 + 2 * (Y1 Y2) + 8 * Q with subset = label & 7, as the trellis coder
produces it. The inverse map is indexed in the 45-degree coordinates u = a - b, v = a + b (odd):
    index = (off + u) / 2 + (off + v) / 2 * width.
The point sets are the crosses and squares of that (u, v) grid: 4 x 4 (7200), 6 x 6 less its
corners (9600), 8 x 8 (12000), 12 x 12 less 2 x 2 corners (14400).

The labels are the V.17 signal-space labels (LABELLED); a peer modem reads our data bits only
with these. They are invariant under a quarter turn: turning a point by +90 degrees lowers (Y1 Y2)
by one modulo 4 (the differential code absorbs it), flips Y0 (the trellis is invariant under the
matching state permutation) and keeps Q, so data survives a quarter-turn phase ambiguity. The 9600
and 14400 tables are given a quarter turn from the peer's absolute orientation so that every rate
shares the decoder's subset lattice; the turn is invisible to the peer for the reasons above.

The transmit grid is the decoder lattice itself for 9600 and 14400; for 7200 and 12000 it is the
(u, v) square (the decoder sees it turned by -45 degrees and scaled by 1/sqrt 2).

Usage: gen_constellations.py > ../vc_code_tables.cpp
"""

CLS = {(0, 1): 0, (1, 2): 1, (2, 3): 2, (1, 0): 3, (0, 3): 4, (3, 2): 5, (2, 1): 6, (3, 0): 7}
RATES = {  # rate: (off, width, corner cut)
    7200: (3, 4, 0), 9600: (5, 6, 1), 12000: (7, 8, 0), 14400: (11, 12, 2)}


def subset(a, b):
    return CLS[(a % 4, b % 4)]


def points(rate):
    off, width, cut = RATES[rate]
    pts = []
    for V in range(width):
        for U in range(width):
            u, v = 2 * U - off, 2 * V - off
            edge = width - cut
            if cut and (U < cut or U >= edge) and (V < cut or V >= edge):
                continue
            pts.append(((u + v) // 2, (v - u) // 2))
    return pts


# The V.17 signal-space labels: the point (a, b) on the decoder lattice of each label
# Y0 + 2 * (Y1 Y2) + 8 * Q, label 0 first.
LABELLED = {
    7200: [
        (0, -3), (1, 2), (2, -1), (-3, 0), (0, 3), (-1, -2), (-2, 1), (3, 0), (0, 1), (1, -2), (-2,
        -1), (1, 0), (0, -1), (-1, 2), (2, 1), (-1, 0)
    ],
    9600: [
        (-4, 1), (-3, -2), (-2, 3), (1, 4), (4, -1), (3, 2), (2, -3), (-1, -4), (0, 1), (-3, 2), (2,
        3), (1, 0), (0, -1), (3, -2), (-2, -3), (-1, 0), (0, -3), (1, -2), (-2, -1), (-3, 0), (0,
        3), (-1, 2), (2, 1), (3, 0), (4, 1), (1, 2), (2, -1), (1, -4), (-4, -1), (-1, -2), (-2, 1),
        (-1, 4)
    ],
    12000: [
        (4, -3), (-3, 2), (2, 3), (-3, -4), (-4, 3), (3, -2), (-2, -3), (3, 4), (0, -3), (1, 2), (2,
        -1), (-3, 0), (0, 3), (-1, -2), (-2, 1), (3, 0), (0, -7), (1, 6), (6, -1), (-7, 0), (0, 7),
        (-1, -6), (-6, 1), (7, 0), (-4, -3), (5, 2), (2, -5), (-3, 4), (4, 3), (-5, -2), (-2, 5),
        (3, -4), (4, 1), (-3, -2), (-2, 3), (1, -4), (-4, -1), (3, 2), (2, -3), (-1, 4), (0, 1), (1,
        -2), (-2, -1), (1, 0), (0, -1), (-1, 2), (2, 1), (-1, 0), (0, 5), (1, -6), (-6, -1), (5, 0),
        (0, -5), (-1, 6), (6, 1), (-5, 0), (-4, 1), (5, -2), (-2, -5), (1, 4), (4, -1), (-5, 2), (2,
        5), (-1, -4)
    ],
    14400: [
        (-8, -3), (9, 2), (2, -9), (-3, 8), (8, 3), (-9, -2), (-2, 9), (3, -8), (-8, 1), (9, -2),
        (-2, -9), (1, 8), (8, -1), (-9, 2), (2, 9), (-1, -8), (-4, -3), (5, 2), (2, -5), (-3, 4),
        (4, 3), (-5, -2), (-2, 5), (3, -4), (-4, 1), (5, -2), (-2, -5), (1, 4), (4, -1), (-5, 2),
        (2, 5), (-1, -4), (4, -3), (-3, 2), (2, 3), (-3, -4), (-4, 3), (3, -2), (-2, -3), (3, 4),
        (4, 1), (-3, -2), (-2, 3), (1, -4), (-4, -1), (3, 2), (2, -3), (-1, 4), (0, -3), (1, 2), (2,
        -1), (-3, 0), (0, 3), (-1, -2), (-2, 1), (3, 0), (0, 1), (1, -2), (-2, -1), (1, 0), (0, -1),
        (-1, 2), (2, 1), (-1, 0), (8, -3), (-7, 2), (2, 7), (-3, -8), (-8, 3), (7, -2), (-2, -7),
        (3, 8), (8, 1), (-7, -2), (-2, 7), (1, -8), (-8, -1), (7, 2), (2, -7), (-1, 8), (-4, -7),
        (5, 6), (6, -5), (-7, 4), (4, 7), (-5, -6), (-6, 5), (7, -4), (-4, 5), (5, -6), (-6, -5),
        (5, 4), (4, -5), (-5, 6), (6, 5), (-5, -4), (4, -7), (-3, 6), (6, 3), (-7, -4), (-4, 7), (3,
        -6), (-6, -3), (7, 4), (4, 5), (-3, -6), (-6, 3), (5, -4), (-4, -5), (3, 6), (6, -3), (-5,
        4), (0, -7), (1, 6), (6, -1), (-7, 0), (0, 7), (-1, -6), (-6, 1), (7, 0), (0, 5), (1, -6),
        (-6, -1), (5, 0), (0, -5), (-1, 6), (6, 1), (-5, 0)
    ],
}


def labels(rate):
    pts = points(rate)
    lab = {p: l for l, p in enumerate(LABELLED[rate])}
    assert sorted(lab) == sorted(pts), rate
    assert all(subset(a, b) == l & 7 for (a, b), l in lab.items()), rate
    # a quarter turn keeps Q, flips Y0 and lowers (Y1 Y2) by one
    for (a, b), l in lab.items():
        t = lab[(-b, a)]
        assert t >> 3 == l >> 3 and (t ^ l) & 1 and ((t >> 1) - (l >> 1)) & 3 == 3, (rate, l)
    return lab


def tx_point(rate, a, b):
    if rate in (9600, 14400):
        return a, b
    return a - b, a + b  # (u, v)


def inverse(rate, lab):
    off, width, _ = RATES[rate]
    inv = []
    for V in range(width):
        for U in range(width):
            u, v = 2 * U - off, 2 * V - off
            a, b = (u + v) // 2, (v - u) // 2
            if (a, b) in lab:
                inv.append(lab[(a, b)])
                continue
            # a cut corner: the nearest point of the same subset keeps the subset consistent
            s = subset(a, b)
            cand = [p for p in lab if subset(*p) == s]
            best = min(cand, key=lambda p: ((p[0] - a) ** 2 + (p[1] - b) ** 2, p))
            inv.append(lab[best])
    return inv


def emit(name, values, per_line=8):
    print(f"const uint16_t {name}[{len(values)}] = {{")
    for i in range(0, len(values), per_line):
        print("    " + ", ".join(f"0x{v:04X}" if name.startswith("SymMap") else str(v)
                                 for v in values[i:i + per_line]) + ",")
    print("};")
    print()


def main():
    print("// Generated by tools/gen_constellations.py: do not edit.")
    print("// Transmit grid points packed as (x + 128) << 8 | (y + 128), indexed by the trellis")
    print("// coder output; inverse maps indexed by the decided point (see vcfInvMapIndex).")
    print('#include "vc_code.h"')
    print()
    for rate in (7200, 9600, 12000, 14400):
        lab = labels(rate)
        n = len(lab)
        sym = [0] * n
        for (a, b), l in lab.items():
            x, y = tx_point(rate, a, b)
            sym[l] = ((x + 128) << 8) | (y + 128)
        emit(f"SymMap{rate}Tab", sym)
        emit(f"InvMap{rate}Tab32", inverse(rate, lab), RATES[rate][1])


if __name__ == "__main__":
    main()
