#!/usr/bin/env python3
"""Writes the codec's constant tables as constexpr arrays.

Usage: gen_isac_tables.py <directory with the table files> <source dir>

Writes <source dir>/isac_tables.h (every table, in namespace isac).  The
table files hold one table each in its
published layout: '#' comment lines (the third carries "checksum sum=S
count=N"), then whitespace-separated values.  Tables that are defined by a
formula are computed here and checked against their files; the build and the
tests only compile the committed output, so re-run this when a table changes.
"""
import math
import os
import sys
from fractions import Fraction

CTYPE = {"int16": "int16_t", "uint16": "uint16_t", "int32": "int32_t",
         "uint32": "uint32_t", "double": "double"}


def load(d, name):
    """Returns (values, type, declared sum, declared count)."""
    vals, typ, csum, ccount = [], None, None, None
    with open(os.path.join(d, name + ".txt")) as f:
        lines = f.read().splitlines()
    for line in lines:
        if line.startswith("# shape"):
            typ = line.split("type")[1].split(";")[0].strip()
        elif line.startswith("# checksum"):
            parts = dict(p.split("=") for p in line[2:].split()[1:])
            csum, ccount = parts["sum"], int(parts["count"])
        elif not line.startswith("#"):
            vals += line.split()
    if typ == "double":
        if abs(sum(float(v) for v in vals) - float(csum)) > 1e-6 * max(1, len(vals)):
            raise SystemExit("checksum mismatch in " + name)
    else:
        vals = [int(v) for v in vals]
        if sum(vals) != int(csum):
            raise SystemExit("checksum mismatch in " + name)
    if len(vals) != ccount:
        raise SystemExit("count mismatch in " + name)
    return vals, typ


def rnd(x):
    return int(math.floor(x + 0.5))


def check(name, computed, published):
    if list(computed) != list(published):
        bad = [i for i, (a, b) in enumerate(zip(computed, published)) if a != b]
        raise SystemExit("formula for %s disagrees with its file at %s" % (name, bad[:8]))


def div_w32w16_resw16(num, den):
    if den == 0:
        return 32767
    q = int(num / den)  # truncation toward zero; both positive here
    q &= 0xFFFF
    return q - 65536 if q >= 32768 else q


def bit_reverse_pairs(bits):
    pairs = []
    for m in range(1 << bits):
        r = int(format(m, "0%db" % bits)[::-1], 2)
        if m < r:
            pairs += [4 * m, 4 * r]
    return pairs


def formula_tables(d):
    """Tables the codec defines by formula: computed, checked where a file exists."""
    out = {}
    cos_fft = [rnd(16384 * math.cos(2 * math.pi * i / 240)) for i in range(240)]
    check("kCosTabFfftQ14", cos_fft, load(d, "kCosTabFfftQ14")[0])
    out["kCosTabFfftQ14"] = ("int16", cos_fft)
    out["kCosTabFfftQ14_2"] = ("int16", [cos_fft[2 * i] for i in range(120)])
    out["kCosTabFfftQ14_3"] = ("int16", [cos_fft[3 * i] for i in range(80)] + [0] * 40)
    sort = [0] * 240
    for q in range(4):
        for r in range(5):
            for t in range(3):
                for u in range(4):
                    sort[60 * q + 12 * r + 4 * t + u] = q + 4 * r + 20 * t + 60 * u
    check("kSortTabFft", sort, load(d, "kSortTabFft")[0])
    out["kSortTabFft"] = ("int16", sort)
    cos1 = [rnd(16384 * math.cos(math.pi * i / 240)) for i in range(240)]
    sin1 = [rnd(16384 * math.sin(math.pi * i / 240)) for i in range(240)]
    sin2 = [(-1) ** i * rnd(16384 * math.cos((2 * i + 1) * math.pi / 480)) for i in range(120)]
    check("WebRtcIsacfix_kCosTab1", cos1, load(d, "WebRtcIsacfix_kCosTab1")[0])
    check("WebRtcIsacfix_kSinTab1", sin1, load(d, "WebRtcIsacfix_kSinTab1")[0])
    check("WebRtcIsacfix_kSinTab2", sin2, load(d, "WebRtcIsacfix_kSinTab2")[0])
    out["WebRtcIsacfix_kCosTab1"] = ("int16", cos1)
    out["WebRtcIsacfix_kSinTab1"] = ("int16", sin1)
    out["WebRtcIsacfix_kSinTab2"] = ("int16", sin2)
    hann = [rnd(16384 * math.sin(math.pi * (i + 1) / 512) ** 2) for i in range(256)]
    check("kHanningTable", hann, load(d, "kHanningTable")[0])
    out["kHanningTable"] = ("int16", hann)
    for bits, name in ((7, "index_7"), (8, "index_8")):
        pairs = bit_reverse_pairs(bits)
        check(name, pairs, load(d, name)[0])
        out[name] = ("int16", pairs)
    # Exact halves (k = 4, 12, 20) round up.
    bw = [int(Fraction(65535 * k, 24) + Fraction(1, 2)) for k in range(25)]
    check("kBwCdf", bw, load(d, "kBwCdf")[0])
    out["kBwCdf"] = ("uint16", bw)
    out["WebRtcIsacfix_recipTab"] = ("int16", [0] + [div_w32w16_resw16(36864, k) for k in range(1, 2048)])
    return out


def hp_words(pairs):
    # Bitwise form: hi in the upper half, lo's 16 bits below it.
    words = []
    for lo, hi in zip(pairs[0::2], pairs[1::2]):
        w = ((hi & 0xFFFF) << 16) | (lo & 0xFFFF)
        words.append(w - (1 << 32) if w >= 1 << 31 else w)
    return words


def trunc_q(vals, q):
    # Published doubles times 2^q, truncated toward zero (exact decimal arithmetic).
    out = []
    for v in vals:
        x = Fraction(v) * (1 << q)
        out.append(int(x) if x >= 0 else -int(-x))
    return out


def main():
    d, src = sys.argv[1], sys.argv[2]
    names = sorted(f[:-4] for f in os.listdir(d) if f.endswith(".txt"))
    tables = {}
    formula = formula_tables(d)
    for name in names:
        if name.endswith("_float") or name in formula:
            continue
        vals, typ = load(d, name)
        if name in ("WebRtcIsacfix_kHpStCoeffInQ30", "WebRtcIsacfix_kHPStCoeffOut1Q30",
                    "WebRtcIsacfix_kHPStCoeffOut2Q30"):
            vals, typ = hp_words(vals), "int32"
        if name == "WebRtcIsacfix_kCodeLenShapeQ11":
            vals = vals + [0]  # index 577 is reachable; it only feeds the size estimate
        tables[name] = (typ, vals)
    tables.update(formula)
    for fname, name, q in (
            ("WebRtcIsac_kIntraVecDecorrMatUb12_float", "WebRtcIsac_kIntraVecDecorrMatUb12_Q31", 31),
            ("WebRtcIsac_kIintraVecDecorrMatUb16_float", "WebRtcIsac_kIintraVecDecorrMatUb16_Q31", 31),
            ("WebRtcIsac_kInterVecDecorrMatUb16_float", "WebRtcIsac_kInterVecDecorrMatUb16_Q31", 31),
            ("WebRtcIsac_kLpcShapeLeftRecPointUb16_float", "WebRtcIsac_kLpcShapeLeftRecPointUb16_Q17", 17),
            ("WebRtcIsac_kInterVecDecorrMatUb12_float", "WebRtcIsac_kInterVecDecorrMatUb12_Q31", 31),
            ("WebRtcIsac_kLpcShapeLeftRecPointUb12_float", "WebRtcIsac_kLpcShapeLeftRecPointUb12_Q17", 17),
            ("WebRtcIsac_kMeanLarUb12_float", "WebRtcIsac_kMeanLarUb12_Q17", 17),
            ("WebRtcIsac_kMeanLarUb16_float", "WebRtcIsac_kMeanLarUb16_Q17", 17)):
        tables[name] = ("int32", trunc_q(load(d, fname)[0], q))
    # The integer upper-band LAR reset vector is the codec's own (not the float table's).
    tables["WebRtcIsac_kMeanLarUb16"] = ("int16", [10838, 10027, 1837, 3425])
    for fname, name in (("WebRtcIsac_kLpcGainDecorrMat_float", "WebRtcIsac_kLpcGainDecorrMat"),
                        ("WebRtcIsac_kLeftRecPointLpcGain_float", "WebRtcIsac_kLeftRecPointLpcGain")):
        tables[name] = ("double", load(d, fname)[0])

    h = ["// Generated by tools/gen_isac_tables.py; do not edit.",
         "#pragma once", "", "#include <cstdint>", "", "namespace isac {", ""]
    for name in sorted(tables):
        typ, vals = tables[name]
        per = 6 if typ == "double" else 10
        h.append("inline constexpr %s %s[%d] = {" % (CTYPE[typ], name, len(vals)))
        for i in range(0, len(vals), per):
            h.append("    " + ", ".join(str(v) + ("u" if typ == "uint32" else "")
                                        for v in vals[i:i + per]) + ",")
        h.append("};")
    h += ["", "}  // namespace isac", ""]
    with open(os.path.join(src, "isac_tables.h"), "w") as f:
        f.write("\n".join(h))


if __name__ == "__main__":
    main()
