#include <cstdio>
#include <cstdlib>

#include "isac_filterbank.h"
#include "isac_ops.h"

namespace isac {
namespace {

// The entry checks hold in every build type: the routine's only caller
// passes constants, so a failure is a programming error and ends the process.
[[noreturn]] void precondition_failed(const char* expr) {
    std::fprintf(stderr, "%s: %s: Assertion `%s' failed.\n", "source/fnc/isac/armv7/isac_filter_ar_fast_q12",
                 "WebRtcSpl_FilterARFastQ12", expr);
    std::abort();
}

}  // namespace

void WebRtcSpl_FilterARFastQ12(const int16_t* data_in, int16_t* data_out, const int16_t* coefficients,
                               int coefficients_length, int data_length) {
    if (!(data_length > 0)) precondition_failed("data_length > 0");
    if (!(coefficients_length > 1)) precondition_failed("coefficients_length > 1");
    for (int i = 0; i < data_length; ++i) {
        int32_t s = 0;
        for (int j = 1; j < coefficients_length; ++j) s = add32(s, coefficients[j] * data_out[i - j]);
        int32_t o = sub32(coefficients[0] * data_in[i], s);
        if (o < -134217728) o = -134217728;
        if (o > 134215679) o = 134215679;
        data_out[i] = static_cast<int16_t>((o + 2048) >> 12);
    }
}

}  // namespace isac
