#!/usr/bin/env python3
"""Generates the constant tables of the GSM half-rate codec from the standard's table files
(one file per table, line 3 "# checksum sum=.. count=..").

Writes hr_std_tables.h (every standard table in its own layout, for the checksum test),
hr_tables.h (the working layouts the codec reads: unpacked codebooks, transposed filters,
interleaved basis vectors, half-step Gray tables, lag lookups) and the checksum list of the
table test.

Usage: gen_gsmhr_tables.py <table dir> <source dir> <test dir>
The output is committed; the build never runs this script."""
import os, re, sys

src_dir, out_dir, test_dir = sys.argv[1], sys.argv[2], sys.argv[3]

FILES = ["pppsrGsp0", "pppsrUvCodeVec", "pppsrVcdCodeVec", "psrQuant1", "psrQuant2", "psrQuant3",
         "psrPreQ1", "psrPreQ2", "psrPreQ3", "psrQuantSz", "psrPreQSz", "psrSQuant", "psvqIndex",
         "ppsrSqrtP0", "ppsrCGIntFilt", "ppsrPVecIntFilt", "psrLagTbl", "psrR0DecTbl",
         "psrHPFCoefs", "psrNWCoefs", "pL_rFlatSstCoefs", "psrOldCont", "psrNewCont",
         "psrCNNewFactor", "ppLr_gsTable", "psrR0RepeatThreshold", "psrR0MuteThreshold",
         "psrConceal", "psrLevelMaxIncrease", "n", "dhf_mask", "psrSST", "psrSPFDenomWidenCf",
         "pswPCoefE", "psrSubMultFactor", "pswUpdateIndexV", "pswBitIndexV", "pswUpdateIndexUn",
         "pswBitIndexUn"]


def load(name):
    with open(os.path.join(src_dir, name + ".txt")) as f:
        lines = f.read().splitlines()
    m = re.search(r"sum=(-?\d+) count=(\d+)", lines[2])
    typ = re.search(r"type (\w+)", lines[1]).group(1)
    flat = [int(v) for l in lines[3:] if l.strip() for v in l.split()]
    s, c = int(m.group(1)), int(m.group(2))
    assert len(flat) == c and sum(flat) == s, name
    return flat, s, c, typ


std = {}
checks = []
std_types = {}
for name in FILES:
    flat, s, c, typ = load(name)
    std[name] = flat
    std_types[name] = typ
    checks.append(f"CHECK_TABLE({name}, {s}LL, {c});")


def s16(v):
    v &= 0xFFFF
    return v - 65536 if v >= 32768 else v


def unpack(packed, n):
    """Byte stream, high byte of each word first; each byte indexes the scalar quantiser."""
    b = []
    for w in packed:
        u = w & 0xFFFF
        b += [u >> 8, u & 0xFF]
    return [std["psrSQuant"][b[m]] for m in range(n)]


derived = {}
derived["hr_psrQuant1_v2"] = unpack(std["psrQuant1"], 2048 * 3)
derived["hr_psrQuant2_v2"] = unpack(std["psrQuant2"], 512 * 3)
derived["hr_psrQuant3_v2"] = unpack(std["psrQuant3"], 256 * 4)
derived["hr_psrPreQ1_exp"] = unpack(std["psrPreQ1"], 64 * 3)
derived["hr_psrPreQ2_exp"] = unpack(std["psrPreQ2"], 32 * 3)
derived["hr_psrPreQ3_exp"] = unpack(std["psrPreQ3"], 16 * 4)
for k in ["psrSQuant", "psrR0DecTbl", "psrLagTbl", "psrNWCoefs", "psrOldCont", "psrNewCont",
          "psrCNNewFactor", "psrR0RepeatThreshold", "psrR0MuteThreshold", "psrConceal",
          "psrLevelMaxIncrease", "psrSST", "psrSPFDenomWidenCf", "pswPCoefE", "psrSubMultFactor",
          "psrPreQSz", "psrQuantSz", "psvqIndex"]:
    derived["hr_" + k] = std[k]
derived["hr_n"] = std["n"]
derived["hr_dhf_mask"] = std["dhf_mask"]
derived["hr_pswLog2"] = [-11050, 32709, -21712]
derived["hr_agcCoef"] = [-410, 410]
# The window is applied with a full product in the covariance; bit 0 cleared in every entry
# gives the contribution of the standard's product, which drops bit 0 of both operands.
derived["hr_pL_rFlatSstCoefs"] = [v & ~1 for v in std["pL_rFlatSstCoefs"]]
derived["hr_pppsrGsp0"] = std["pppsrGsp0"]
derived["hr_ppsrSqrtP0"] = std["ppsrSqrtP0"]
derived["hr_ppLr_gsTable"] = std["ppLr_gsTable"]
# Filters: the standard stores [tap][phase]; the codec reads one row of taps per phase.
derived["hr_ppsrPVecIntFilt"] = [std["ppsrPVecIntFilt"][6 * k + p] for p in range(6) for k in range(10)]
derived["hr_ppsrCGIntFilt"] = [std["ppsrCGIntFilt"][6 * k + p] for p in range(6) for k in range(6)]


def interleave_groups(vecs, n):
    out = [0] * (n * 40)
    for k in range(n):
        for i in range(40):
            out[(i >> 2) * 4 * n + 4 * k + (i & 3)] = vecs[k][i]
    return out


uv = std["pppsrUvCodeVec"]
uvsets = [[uv[(7 * c + k) * 40:(7 * c + k + 1) * 40] for k in range(7)] for c in range(2)]
vc = std["pppsrVcdCodeVec"]
vcd = [vc[k * 40:(k + 1) * 40] for k in range(9)]
derived["hr_pppsrUvCodeVec2"] = interleave_groups(uvsets[0], 7) + interleave_groups(uvsets[1], 7)
derived["hr_pppsrVcdCodeVec2"] = interleave_groups(vcd, 9)


def int4(vecs):
    out = [0] * 320  # slot 7 stays zero when only seven vectors exist
    for k, v in enumerate(vecs):
        for s in range(40):
            out[160 * (k >> 2) + 4 * s + (k & 3)] = v[s]
    return out


derived["hr_psrUvCodeVec_Int4"] = int4(uvsets[0]) + int4(uvsets[1])
derived["hr_psrVcdCodeVec_Int4"] = int4(vcd[:8])
derived["hr_psrVcdCodeVec9"] = vcd[8]
# Half-step Gray tables: odd standard steps; the last entry has no standard step and is 0.
for k, n in [("pswUpdateIndexV", 128), ("pswBitIndexV", 128), ("pswUpdateIndexUn", 32),
             ("pswBitIndexUn", 32)]:
    t = std[k]
    derived["hr_" + k] = [t[2 * m + 1] for m in range(n - 1)] + [0]
# HPF: 14-word layout, even sample order then odd sample order.
h = std["psrHPFCoefs"]
for sec in range(2):
    c0, c1, c2, c3, c4 = h[5 * sec:5 * sec + 5]
    derived[f"hr_psrHPFCoefs{sec + 1}"] = [c3, c4, c3, c4, c0, c1, c2, c4, c3, c4, c3, c1, c0, c2]
derived["hr_r0Shifts"] = [0] * 19 + [2, 2, 2, 3, 3, 4, 5, 5, 6, 6, 7, 8, 8]
lag = std["psrLagTbl"]


def code_of(L):
    c = 0
    for i, v in enumerate(lag):
        if v <= L:
            c = i
    return c


derived["hr_quantLagIndx"] = [s16(code_of(120 + 2 * w) + 256 * code_of(121 + 2 * w)) for w in range(370)]


def cg(L):
    p = 5461 * L
    b = p >> 15
    s = ((p & 32767) * 6 + 16384) >> 15
    r = 6 - s
    assert 0 <= r <= 5
    return s16(256 * b + 6 * r)


derived["hr_CG_IntRem"] = [cg(L) for L in lag]


def ipjj(L):
    # integer part and sixths of a lag given in sixths of a sample
    return L // 6, L % 6


lij = []
for L in lag:
    ip, jj = ipjj(L)
    lij.append(s16((ip << 8) | jj))
derived["hr_Lag_ip_jj"] = lij

types32 = {"hr_pL_rFlatSstCoefs", "hr_ppLr_gsTable"}
out = ["// Generated by tools/gen_gsmhr_tables.py from the standard's constant tables; do not edit.",
       "// Working layouts of the GSM half-rate tables (unpacked, transposed, interleaved).",
       "#pragma once", "", "#include <array>", "#include <cstdint>", "", "namespace hr {", ""]
dchecks = []
for name, vals in derived.items():
    ctype = "std::int32_t" if name in types32 else "std::int16_t"
    out.append(f"inline constexpr std::array<{ctype}, {len(vals)}> {name}{{{{")
    for i in range(0, len(vals), 12):
        out.append("    " + ", ".join(map(str, vals[i:i + 12])) + ",")
    out.append("}};")
out += ["", "}  // namespace hr", ""]
# The standard's layout, for the checksum test. A table the codec reads unchanged is named here
# as the codec's own array, so its checksum is taken over what the codec really reads and its
# values are written once.
hdr = ["// Generated by tools/gen_gsmhr_tables.py from the standard's constant tables; do not edit.",
       "// The standard's tables in their own layout; only the table test reads them directly.",
       "#pragma once", "", "#include <array>", "#include <cstdint>", "", '#include "hr_tables.h"', "",
       "namespace hr::std_tab {", ""]
for name in FILES:
    flat = std[name]
    if derived.get("hr_" + name) == flat:
        hdr.append(f"inline constexpr const auto& {name} = hr::hr_{name};")
        continue
    ctype = "std::int32_t" if std_types[name] == "int32" else "std::int16_t"
    hdr.append(f"inline constexpr std::array<{ctype}, {len(flat)}> {name}{{{{")
    for i in range(0, len(flat), 12):
        hdr.append("    " + ", ".join(map(str, flat[i:i + 12])) + ",")
    hdr.append("}};")
hdr += ["", "}  // namespace hr::std_tab", ""]
with open(os.path.join(out_dir, "hr_std_tables.h"), "w") as f:
    f.write("\n".join(hdr))
with open(os.path.join(out_dir, "hr_tables.h"), "w") as f:
    f.write("\n".join(out))
with open(os.path.join(test_dir, "hr_table_checksums.inc"), "w") as f:
    f.write("// Generated by source/fnc/gsmhr/tools/gen_gsmhr_tables.py; do not edit.\n")
    f.write("\n".join(checks) + "\n")
