#!/usr/bin/env python3
"""Writes ilbc_tables.h (the codec's constant tables) and ilbc_table_checksums.inc (the sum and
count each table must keep) from the iLBC table files and the integer tables listed below.
Usage: gen_tables.py <table dir> <source dir> <test dir>
The build does not run this; its outputs are committed."""
import math, os, sys
from fractions import Fraction

def load(d, name):
    vals, head = [], None
    with open(os.path.join(d, name + '.txt')) as f:
        for line in f:
            if line.startswith('#'):
                if 'checksum' in line:
                    parts = dict(p.split('=') for p in line.split()[2:])
                    head = (int(parts['sum']), int(parts['count']))
                continue
            vals += [int(v) for v in line.split()]
    assert head == (sum(vals), len(vals)), name
    return vals

def q_round(v, scale):  # round(v * scale / 10^6), ties away from zero, exact
    x = Fraction(v) * scale / 10**6
    return int(math.floor(x + Fraction(1, 2))) if x >= 0 else -int(math.floor(-x + Fraction(1, 2)))

d, srcdir, testdir = sys.argv[1:4]
T = []  # (ctype, name, values, source sum/count or None)

def add(ctype, name, vals, file_check=None):
    T.append((ctype, name, list(vals), file_check))

def from_file(ctype, name, fname):
    v = load(d, fname)
    add(ctype, name, v, (sum(v), len(v)))

# The windows, the LSF codebook and its mean are the standard's decimal tables rounded to their Q
# formats; the sums and position-weighted sums below are those of the integer tables they must equal.
def from_decimal(name, fname, scale, expect_sum, expect_weighted):
    v = [q_round(x, scale) for x in load(d, fname)]
    assert sum(v) == expect_sum and sum((i + 1) * x for i, x in enumerate(v)) == expect_weighted, name
    add('std::int16_t', name, v)

from_decimal('ilbc_lpc_winTbl_q15', 'lpc_winTbl', 32768, 3948532, 475798106)
asym = [q_round(v, 32768) for v in load(d, 'lpc_asymwinTbl')]
assert asym[178] == 29986
assert sum(asym) == 4046059 and sum((i + 1) * x for i, x in enumerate(asym)) == 658522739
add('std::int16_t', 'ilbc_lpc_asymwinTbl_q15', asym)
from_decimal('ilbc_lsfCbTbl_q13', 'lsfCbTbl', 8192, 14449490, 9632111642)
from_decimal('ilbc_lsfmeanTbl_q13', 'lsfmeanTbl', 8192, 117846, 840779)
from_file('std::int16_t', 'ilbc_table2', 'table2')
from_file('std::int16_t', 'ilbc_slope_cos', 'slope_cos')
from_file('std::int16_t', 'ilbc_table_isqrt', 'table_isqrt')
from_file('std::int16_t', 'ilbc_sqrt_table', 'sqrt_table')

mean29 = [q_round(v, 2**29) for v in load(d, 'lsfmeanTbl')]
assert mean29 == [151256937, 239337589, 356122582, 516751138, 672071651, 823066595, 993525794,
                  1147731762, 1332215640, 1491075206]
add('std::int32_t', 'ilbc_lsfmeanTbl_q29', mean29)

grid = [2**31 - 1] + [math.floor(math.cos(2 * math.pi * k * 0.00079375) * 2**31) for k in range(1, 630)]
assert (grid[1], grid[315], grid[629]) == (2147456940, -421658, -2147460982)
add('std::int32_t', 'ilbc_LSF_grid', grid)

# Integer tables of the codec itself.
add('std::int16_t', 'ilbc_memLfTbl', [147, 147, 147, 147])
add('std::int32_t', 'ilbc_lpc_lagwinTbl_q30', [1073849198, 1072549971, 1068984074, 1063065609, 1054835378,
    1044345994, 1031668324, 1016883973, 1000088504, 981388216, 960901222])
add('std::int32_t', 'ilbc_bwexpand_coef2', [1938103992, 1749138852, 1578597813, 1424684526, 1285777784,
    1160414450, 1047274041, 945164822, 853011251, 769842654])
add('std::int32_t', 'ilbc_bwexpand_coef3', [906667596, 382795059, 161616073, 68234306, 28808523, 12162958,
    5135200, 2168081, 915363, 386466])
add('std::int32_t', 'ilbc_lsf_weightTbl_20ms_q30', [805306368, 536870912, 268435456, 0])
add('std::int32_t', 'ilbc_lsf_InvweightTbl_20ms_q30', [268435456, 536870912, 805306368, 1073741824])
add('std::int32_t', 'ilbc_lsf_weightTbl_30ms_q30', [536870912, 1073741824, 715827883, 357913941, 0, 0])
add('std::int32_t', 'ilbc_lsf_InvweightTbl_30ms_q30', [536870912, 0, 357913941, 715827883, 1073741824, 1073741824])
add('std::int32_t', 'ilbc_sampEn_win_q31', [357913941, 715827883, 1073741824, 1431655765, 1789569707])
add('std::int32_t', 'ilbc_ssqEn_win_q31', [1717986918, 1932735283, 2147483647, 1932735283, 1717986918])
add('std::int16_t', 'ilbc_pow10_state_frgqTbl_q0', [10, 11, 13, 16, 18, 22, 26, 31, 37, 43, 50, 60, 69, 79,
    90, 101, 113, 126, 138, 152, 165, 180, 197, 215, 234, 252, 272, 294, 318, 346, 374, 402, 432, 466, 499,
    535, 575, 616, 658, 704, 754, 807, 864, 928, 1000, 1079, 1165, 1271, 1385, 1524, 1670, 1842, 2034, 2242,
    2484, 2771, 3096, 3487, 4018, 4635, 5508, 6772, 8685, 12640])
add('std::int16_t', 'ilbc_pow10_state_frgqTbl_q0_thres', [0, 10, 12, 14, 17, 20, 24, 29, 34, 40, 47, 55, 64,
    74, 84, 95, 107, 119, 132, 145, 158, 172, 188, 206, 224, 243, 262, 283, 306, 332, 359, 388, 417, 449, 482,
    517, 555, 595, 637, 681, 729, 780, 835, 895, 963, 1039, 1121, 1217, 1326, 1452, 1595, 1754, 1936, 2136,
    2360, 2624, 2929, 3285, 3743, 4315, 5052, 6107, 7669, 10477])
add('std::int16_t', 'ilbc_scal_frgqTbl_q16', [29485, 25003, 21345, 18316, 15578, 13128, 10973, 9310, 7955,
    6762, 5789, 4877, 4255, 3699, 3258, 2904, 2595, 2328, 2123, 1932, 1785, 1631, 1493, 1370, 1260, 1167,
    1083, 1003, 925, 852, 788, 732, 681, 632, 590, 550, 513, 478, 448, 418, 391, 365, 341, 318, 295, 273,
    253, 232, 213, 193, 176, 160, 145, 131, 119, 106, 95, 85, 73, 64, 54, 44, 34, 23])
add('std::int32_t', 'ilbc_state_sq3Tbl_q16', [-243784, -142704, -74056, -20296, 29112, 87144, 159664, 261088])
add('std::int32_t', 'ilbc_state_sq3Tbl_q16_thresh', [0, -193244, -108380, -47176, 4408, 58128, 123404, 210376])
add('std::int32_t', 'ilbc_state_sq3Tbl_q28', [-998539264, -584515584, -303333376, -83132416, 119242752,
    356941824, 653983744, 1069416448])
cbf = [-1120, 3568, -6040, 26416, 23376, -4720, 2744, -1104]
add('std::int16_t', 'ilbc_cbfiltersTbl_q15', cbf)
add('std::int16_t', 'ilbc_cbfiltersTbl_rev_q15', cbf[::-1])
add('std::int16_t', 'ilbc_cbAlphaTbl_q15', [0, -32768, 6553, -26215, 13106, -19662, 19659, -13109, 26212, -6556])
add('std::int16_t', 'ilbc_ceAlphaTbl_q15', [26215, 6553, 19662, 13106, 13109, 19659, 6556, 26212])
add('std::int32_t', 'ilbc_gain_sq5Tbl_q30', [40239548, 80543521, 120783070, 161087043, 201326592, 241566140,
    281870113, 322109662, 362413635, 402653184, 442892732, 483196705, 523436254, 563740227, 603979776,
    644219324, 684523297, 724762846, 765066819, 805306368, 845545916, 885849889, 926089438, 966393411,
    1006632960, 1046872508, 1087176481, 1127416030, 1167720003, 1207959552, 1248199100, 1288503073])
add('std::int32_t', 'ilbc_gain_sq4Tbl_q30', [-1127416031, -966393412, -805306368, -644219325, -483196706,
    -322109663, -161087044, 0, 161087043, 322109662, 483196705, 644219324, 805306368, 966393411, 1127416030,
    1288503073])
add('std::int32_t', 'ilbc_gain_sq3Tbl_q30', [-1073741824, -708640613, -354353056, 0, 268435456, 536870912,
    805306368, 1073741824])
add('std::int16_t', 'ilbc_search_rangeTbl', [58, 58, 58, 108, 44, 44, 108, 108, 108, 108, 108, 108, 108, 108, 108])
add('std::int16_t', 'ilbc_enh_plocsTbl', [40, 120, 200, 280, 360, 440, 520, 600])
add('std::int16_t', 'ilbc_lpFilt_coefsTbl_rev_q15', [0, -2184, 4096, 10376, 13568, 10376, 4096, -2184])
add('std::int16_t', 'ilbc_smath_tab_q15', [4799, 16384, 27969, 0, 27969, 16384, 4799])
add('std::int16_t', 'ilbc_polyphaserTbl_q15', [0, 0, 0, 32767, 0, 0, 0,
    512, -2520, 9448, 28248, -3488, 616, -512,
    776, -4072, 19712, 19712, -4072, 776, -776,
    616, -3488, 28248, 9448, -2520, 512, -616])

out = ['// Constant tables of the iLBC codec. Generated by tools/gen_tables.py; do not edit.',
       '#pragma once', '', '#include <array>', '#include <cstdint>', '', 'namespace ilbc {', '']
for ctype, name, vals, _ in T:
    out.append('inline constexpr std::array<%s, %d> %s = {' % (ctype, len(vals), name))
    for i in range(0, len(vals), 10):
        out.append('    ' + ', '.join(str(v) if v != -2**31 else '(-2147483647 - 1)' for v in vals[i:i + 10]) + ',')
    out.append('};')
out += ['', '}  // namespace ilbc', '']
open(os.path.join(srcdir, 'ilbc_tables.h'), 'w').write('\n'.join(out))

chk = ['// Generated by tools/gen_tables.py: {name, sum, count, weighted sum} of every table as it was',
       '// generated (sources checked against their files), beside the table compiled into the codec.']
for ctype, name, vals, fc in T:
    s = sum(vals)
    w = sum((i + 1) * v for i, v in enumerate(vals))
    if fc:
        assert fc == (s, len(vals))
    chk.append('    {"%s", %dLL, %d, %dLL, sums(ilbc::%s)},' % (name, s, len(vals), w, name))
open(os.path.join(testdir, 'ilbc_table_checksums.inc'), 'w').write('\n'.join(chk) + '\n')
