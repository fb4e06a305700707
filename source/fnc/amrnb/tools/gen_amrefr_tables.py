#!/usr/bin/env python3
"""Writes amrefr_tables.cpp from the standard's table files.

Usage: gen_amrefr_tables.py <directory with the table files> <output .cpp> [<payload order header>]

The table files hold the standard's arrays in the standard's own layout (one
file per table, '#' comment lines, whitespace-separated integers).  This
script applies the layouts the kernels read (blocks of four, columns, rows of
ten, bits minus one, twiddle blocks) and writes constexpr arrays.  The build
only compiles the committed output; re-run this when a table changes.
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
    out = [0] * len(vals)
    for i in range(n):
        for c in range(dim):
            out[4 * dim * (i // 4) + 4 * c + (i % 4)] = vals[i * dim + c]
    return out


def column(vals, ncols, c):
    return vals[c::ncols]


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
    for name, f in [("amrefr_inv_sqrt_table", "inv_sqrt_table"),
                    ("amrefr_log2_table", "log2_table"),
                    ("amrefr_pow_table", "pow2_table"),
                    ("amrefr_sqrt_table", "sqrt_l_table"),
                    ("amrefr_L_lag_hi", "lag_h"),
                    ("amrefr_L_lag_lo", "lag_l"),
                    ("amrefr_table", "lsp_lsf_table"),
                    ("amrefr_slope", "slope"),
                    ("amrefr_grid", "grid"),
                    ("amrefr_window_200_40", "window_200_40"),
                    ("amrefr_window_160_80", "window_160_80"),
                    ("amrefr_window_232_8", "window_232_8"),
                    ("amrefr_corrweight", "corrweight"),
                    ("amrefr_past_rq_init", "past_rq_init"),
                    ("amrefr_pred_fac", "pred_fac"),
                    ("amrefr_mean_lsf_3", "q_plsf_3_mean_lsf"),
                    ("amrefr_mean_lsf_5", "q_plsf_5_mean_lsf"),
                    ("amrefr_qua_gain_pitch", "qua_gain_pitch"),
                    ("amrefr_ph_imp_low", "ph_imp_low"),
                    ("amrefr_ph_imp_mid", "ph_imp_mid"),
                    ("amrefr_ph_imp_low_MR795", "ph_imp_low_MR795"),
                    ("amrefr_ph_imp_mid_MR795", "ph_imp_mid_MR795"),
                    ("amrefr_gamma1", "gamma1"),
                    ("amrefr_gamma1_12k2", "gamma1_12k2"),
                    ("amrefr_gamma2", "gamma2"),
                    ("amrefr_gamma3", "gamma3"),
                    ("amrefr_gamma4", "gamma4"),
                    ("amrefr_gamma3_MR122", "gamma3_MR122"),
                    ("amrefr_gamma4_MR122", "gamma4_MR122"),
                    ("amrefr_dhf_MR475", "dhf_MR475"),
                    ("amrefr_dhf_MR515", "dhf_MR515"),
                    ("amrefr_dhf_MR59", "dhf_MR59"),
                    ("amrefr_dhf_MR67", "dhf_MR67"),
                    ("amrefr_dhf_MR74", "dhf_MR74"),
                    ("amrefr_dhf_MR795", "dhf_MR795"),
                    ("amrefr_dhf_MR102", "dhf_MR102"),
                    ("amrefr_dhf_MR122", "dhf_MR122"),
                    ("amrefr_dhf_mask", "dhf_mask"),
                    ("amrefr_homing_tab", "dhf_mask"),
                    ("amrefr_SID_codeword_bit_idx", "SID_codeword_bit_idx"),
                    ("amrefr_interp_factor", "interp_factor")]:
        emit(t, W, name, load(d, f))

    # 1/6-resolution interpolation filter in rows of ten, and reversed rows.
    i6 = load(d, "pred_lt_inter_6")
    emit(t, W, "amrefr_inter_6", [i6[p + 6 * i] for p in range(7) for i in range(10)], 10)
    emit(t, W, "amrefr_inter_6_rev", [i6[p + 6 * (9 - m)] for p in range(7) for m in range(10)], 10)
    i36 = load(d, "inter_36_inter_6")
    comb = []
    for f in range(6):
        for k in (0, 6, 12, 18):
            comb += [i36[f + k], i36[6 - f + k]]
    emit(t, W, "amrefr_inter_6_2_comb", comb, 8)

    for name, f, dim in [("amrefr_reordered_dico1_lsf", "q_plsf_3_dico1_lsf", 3),
                         ("amrefr_reordered_dico2_lsf", "q_plsf_3_dico2_lsf", 3),
                         ("amrefr_reordered_dico3_lsf", "q_plsf_3_dico3_lsf", 4),
                         ("amrefr_reordered_mr515_3_lsf", "mr515_3_lsf", 4),
                         ("amrefr_reordered_mr795_1_lsf", "mr795_1_lsf", 3),
                         ("amrefr_reordered_dico1_5_lsf", "q_plsf_5_dico1_lsf", 4),
                         ("amrefr_reordered_dico2_5_lsf", "q_plsf_5_dico2_lsf", 4),
                         ("amrefr_reordered_dico3_5_lsf", "q_plsf_5_dico3_lsf", 4),
                         ("amrefr_reordered_dico4_5_lsf", "q_plsf_5_dico4_lsf", 4),
                         ("amrefr_reordered_dico5_5_lsf", "q_plsf_5_dico5_lsf", 4)]:
        emit(t, W, name, block4(load(d, f), dim), 4 * dim)

    g475 = load(d, "table_gain_MR475")
    for c, suffix in enumerate(["gpit0", "gfac0", "gpit1", "gfac1"]):
        emit(t, W, "amrefr_table_gain_MR475_" + suffix, column(g475, 4, c))
    qgc = load(d, "qua_gain_code")
    for c, name in enumerate(["amrefr_qua_gain_code_g_fac", "amrefr_qua_gain_code_qeMR122",
                              "amrefr_qua_gain_code_qe"]):
        emit(t, W, name, column(qgc, 3, c))
    for rate, f in [("highrates", "table_gain_highrates"), ("lowrates", "table_gain_lowrates")]:
        g = load(d, f)
        for c, pre in enumerate(["g_pit", "g_fac", "qe_MR122", "qe"]):
            emit(t, W, "amrefr_%s_gain_%s" % (pre, rate), column(g, 4, c))

    modes = ["MR475", "MR515", "MR59", "MR67", "MR74", "MR795", "MR102", "MR122", "MRDTX"]
    for m in modes:
        emit(t, W, "amrefr_bitno_" + m, [v - 1 for v in load(d, "bitno_" + m)], 20)

    phs = load(d, "phs_tbl")
    emit(t, W, "amrefr_phs_tbl", phs, 16)
    pen = [0] * 32
    for b in range(4):
        for j in range(4):
            m = 4 * b + j
            pen[8 * b + j] = phs[2 * (4 * m)]
            pen[8 * b + 4 + j] = phs[2 * (4 * m) + 1]
    emit(t, W, "amrefr_phs_tbl_Penultimate", pen, 8)
    last = [0] * 64
    for b in range(8):
        for j in range(4):
            m = 4 * b + j
            last[8 * b + j] = phs[2 * (2 * m)]
            last[8 * b + 4 + j] = phs[2 * (2 * m) + 1]
    emit(t, W, "amrefr_phs_tbl_Last", last, 8)
    ch = load(d, "ch_tbl")
    emit(t, W, "amrefr_ch_tbl", [ch[2 * c + 1] - ch[2 * c] + 1 for c in range(16)], 16)

    # Byte offsets of the split correlation matrix (a rule, not a standard table).
    for name, T in [("amrefr_src_i", 5), ("amrefr_src_i_102", 4)]:
        P = 40 // T
        src = []
        for p in range(40):
            for c in range(40):
                q = (c % P) * T + c // P
                src.append(2 * (40 * max(p, q) + min(p, q)))
        emit(t, W, name, src, 20)

    if len(sys.argv) > 3:
        # Payload bit orders of the speech modes (payload bit i is serial bit
        # F[i]); the tests use them to read packed frames.
        h = ["// Generated by source/fnc/amrnb/tools/gen_amrefr_tables.py; do not edit.",
             "#pragma once", "", "#include <cstdint>", ""]
        names = ["475", "515", "59", "67", "74", "795", "102", "122"]
        for n in names:
            v = load(d, "sort_" + n)
            h.append("constexpr std::int16_t kPayloadOrder_%s[%d] = {" % (n, len(v)))
            for i in range(0, len(v), 20):
                h.append("    " + ", ".join(str(x) for x in v[i:i + 20]) + ",")
            h.append("};")
        h.append("constexpr const std::int16_t* kPayloadOrder[8] = {" +
                 ", ".join("kPayloadOrder_" + n for n in names) + "};")
        with open(sys.argv[3], "w") as f:
            f.write("\n".join(h) + "\n")

    with open(dst, "w") as f:
        f.write("// Generated by tools/gen_amrefr_tables.py from the standard's table files; do not edit.\n")
        f.write("#include \"amrefr_tables.h\"\n\n")
        f.write("\n".join(t))


if __name__ == "__main__":
    main()
