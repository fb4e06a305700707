#!/usr/bin/env python3
"""Writes amrwb_tables_gen.cpp from the standard's AMR-WB table files.

Usage: gen_amrwb_tables.py <directory with the table files> <output .cpp>

The table files hold the standard's arrays in the standard's own layout (one
file per table, '#' comment lines, whitespace-separated integers).  This
script applies the layouts the kernels read (codebooks in blocks of four,
interpolation filters one row per fraction, gain codebooks split into
columns, the resampling filters by phase) and writes constexpr arrays.  The
weighting sequences are computed here by their rule.  The build only compiles
the committed output; re-run this when a table changes.
"""
import os
import sys


def load(d, name):
    vals = []
    with open(os.path.join(d, name + ".txt")) as f:
        for line in f:
            if line.startswith("#"):
                continue
            vals += [int(v) for v in line.split()]
    return vals


def block4(vals, dim):
    n = len(vals) // dim
    assert n % 4 == 0
    out = [0] * len(vals)
    for k in range(n):
        for j in range(dim):
            out[(k >> 2) * 4 * dim + 4 * j + (k & 3)] = vals[k * dim + j]
    return out


def phase_rows(vals, taps):
    # Row f (fraction after the caller's adjustment), tap k = filter[(3 - f) + 4k].
    return [vals[(3 - f) + 4 * k] for f in range(4) for k in range(taps)]


def sat16(v):
    return max(-32768, min(32767, v))


def weight_powers(gamma, n):
    # fac[0] = gamma, fac[k] = round(L_mult(fac[k-1], gamma)).
    fac = [gamma]
    for _ in range(n - 1):
        p = 2 * fac[-1] * gamma
        fac.append(sat16((p + 0x8000) >> 16))
    return fac


def emit(out, ctype, name, vals, per_line=12):
    out.append("constexpr %s %s[%d] = {" % (ctype, name, len(vals)))
    for i in range(0, len(vals), per_line):
        out.append("    " + ", ".join(str(v) for v in vals[i:i + per_line]) + ",")
    out.append("};")
    out.append("")


def main():
    d, dst = sys.argv[1], sys.argv[2]
    t = []
    W = "Word16"

    # Tables kept in the standard's layout.
    for name, f in [("amr_wb_window", "window"),
                    ("amr_wb_lag_hi", "lag_h"),
                    ("amr_wb_lag_lo", "lag_l"),
                    ("amr_wb_table_isqrt", "table_isqrt"),
                    ("amr_wb_pow_table", "table_pow2"),
                    ("amr_wb_log2_table", "log2_table"),
                    ("amr_wb_isp_isf_table", "isp_isf_table"),
                    ("amr_wb_isp_isf_slope", "isp_isf_slope"),
                    ("amr_wb_grid", "grid"),
                    ("amr_wb_mean_isf", "mean_isf"),
                    ("amr_wb_mean_isf_noise", "mean_isf_noise"),
                    ("amr_wb_corrweight", "corrweight"),
                    ("amr_wb_ph_imp_low", "ph_imp_low"),
                    ("amr_wb_ph_imp_mid", "ph_imp_mid"),
                    ("amr_wb_fir_6k_7k", "fir_6k_7k"),
                    ("amr_wb_fir_7k", "fir_7k"),
                    ("amr_wb_h_fir", "h_fir"),
                    ("amr_wb_isp_init", "isp_init"),
                    ("amr_wb_isf_init", "isf_init"),
                    ("amr_wb_interpol_frac", "interpol_frac"),
                    ("amr_wb_pred", "pred"),
                    ("amr_wb_HP_gain", "HP_gain"),
                    ("amr_wb_pdown_usable", "pdown_usable"),
                    ("amr_wb_pdown_unusable", "pdown_unusable"),
                    ("amr_wb_cdown_usable", "cdown_usable"),
                    ("amr_wb_cdown_unusable", "cdown_unusable"),
                    ("amr_wb_en_adjust", "en_adjust"),
                    ("amr_wb_prmnofsf", "prmnofsf"),
                    ("amr_wb_nb_of_bits", "nb_of_bits"),
                    ("amr_wb_tipos", "tipos")]:
        emit(t, W, name, load(d, f), 16)

    # Resampling filters by phase.
    fd = load(d, "fir_down")
    rows = []
    for p in range(4):
        rows += [fd[(3 - p) + 4 * k] for k in range(30)] + [0, 0]
    emit(t, W, "amr_wb_fir_down", rows, 16)
    fu = load(d, "fir_up")
    emit(t, W, "amr_wb_fir_up", [fu[5 * (e // 4) + (e % 4)] for e in range(96)], 16)

    # Interpolation filters, one row per fraction.
    emit(t, W, "amr_wb_inter4_1", phase_rows(load(d, "inter4_1"), 8), 8)
    emit(t, W, "amr_wb_inter4_2", phase_rows(load(d, "inter4_2"), 32), 16)

    # ISF codebooks in blocks of four codevectors, component-interleaved.
    for name, f, dim in [("amr_wb_dico1_isf_reordered", "dico1_isf", 9),
                         ("amr_wb_dico2_isf_reordered", "dico2_isf", 7),
                         ("amr_wb_dico21_isf_reordered", "dico21_isf", 3),
                         ("amr_wb_dico22_isf_reordered", "dico22_isf", 3),
                         ("amr_wb_dico23_isf_reordered", "dico23_isf", 3),
                         ("amr_wb_dico24_isf_reordered", "dico24_isf", 3),
                         ("amr_wb_dico25_isf_reordered", "dico25_isf", 4),
                         ("amr_wb_dico21_isf_36b_reordered", "dico21_isf_36b", 5),
                         ("amr_wb_dico22_isf_36b_reordered", "dico22_isf_36b", 4),
                         ("amr_wb_dico23_isf_36b_reordered", "dico23_isf_36b", 7),
                         ("amr_wb_dico1_isf_noise_reordered", "dico1_isf_noise", 2),
                         ("amr_wb_dico2_isf_noise_reordered", "dico2_isf_noise", 3),
                         ("amr_wb_dico3_isf_noise_reordered", "dico3_isf_noise", 3),
                         ("amr_wb_dico4_isf_noise_reordered", "dico4_isf_noise", 4),
                         ("amr_wb_dico5_isf_noise_reordered", "dico5_isf_noise", 4)]:
        emit(t, W, name, block4(load(d, f), dim), 4 * dim)

    # Gain codebooks as a pitch-gain and a code-gain column.
    for bits in ("7b", "6b"):
        g = load(d, "t_qua_gain" + bits)
        emit(t, W, "amr_wb_t_qua_gain%s_g_pitch" % bits, g[0::2], 16)
        emit(t, W, "amr_wb_t_qua_gain%s_g_code" % bits, g[1::2], 16)

    # Homing frames and payload orders.
    for m in ("7k", "9k", "12k", "14k", "16k", "18k", "20k", "23k", "24k"):
        emit(t, W, "amr_wb_dfh_M" + m, load(d, "dfh_M" + m), 16)
    for m in ("660", "885", "1265", "1425", "1585", "1825", "1985", "2305", "2385", "SID"):
        emit(t, W, "amr_wb_sort_" + m, load(d, "sort_" + m), 16)

    # Weighting sequences, computed by their rule.
    emit(t, W, "amr_wb_Weight_a_GAMMA1_M", weight_powers(30147, 16), 16)
    emit(t, W, "amr_wb_Weight_a_19661_M", weight_powers(19661, 16), 16)
    emit(t, W, "amr_wb_Weight_a_29491_M16K", weight_powers(29491, 20), 20)

    # Filter coefficient rows in the order the filter loops read them.
    a = load(d, "hp400_a")
    b = load(d, "hp400_b")
    emit(t, W, "amr_wb_hp400_ab", [a[2], a[1], a[2], a[1], b[0], b[1], b[2], 0], 8)
    a = load(d, "hp50_a")
    b = load(d, "hp50_b")
    emit(t, W, "amr_wb_hp50_ab", [2 * a[2], 2 * a[1], a[2], a[1], b[0], b[1], b[2], 0], 8)
    a = load(d, "hp_wsp_a")
    b = load(d, "hp_wsp_b")
    emit(t, W, "amr_wb_hp_wsp_ab", [a[3], a[2], a[1], 0, a[3], a[2], a[1], 0, b[3], b[2], b[1], b[0]], 12)

    with open(dst, "w") as f:
        f.write("// Generated by tools/gen_amrwb_tables.py from the standard's table files; do not edit.\n")
        f.write("#include \"amrwb_tables.h\"\n\n")
        f.write("\n".join(t))


if __name__ == "__main__":
    main()
