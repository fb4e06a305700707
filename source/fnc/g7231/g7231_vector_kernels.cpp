// Fills, copies and whole-vector shifts of the G.723.1 codec. The fixed-length forms give the
// compiler its loop counts; the variable ones follow the codec's block contracts.
#include "g7231_kernels.h"

void g723_1_Set_zero(Word16* dst, Word16 n) {
  // Always at least one element: callers rely on the first word being cleared.
  dst[0] = 0;
  for (int i = 1; i < n; ++i) dst[i] = 0;
}

void g723_1_Set_zero4(Word16* dst, Word16 n) {
  for (int i = 0; i < n; ++i) dst[i] = 0;
}

void g723_1_Set_const(Word16* dst, Word16 value, Word16 count) {
  (void)count;  // the amplitude tables of the pulse search are always 30 long
  for (int i = 0; i < 30; ++i) dst[i] = value;
}

void g723_1_Set_const4(Word16* dst, Word16 value, Word16 n) {
  for (int i = 0; i < n; ++i) dst[i] = value;
}

// Forward element copies: a history moved down onto itself (dst below src) stays correct.
void g723_1_Copy(const Word16* src, Word16* dst, Word16 n) {
  for (int i = 0; i < n; ++i) dst[i] = src[i];
}
void g723_1_Copy10(const Word16* src, Word16* dst) {
  for (int i = 0; i < 10; ++i) dst[i] = src[i];
}
void g723_1_Copyx8(const Word16* src, Word16* dst, Word16 n) {
  for (int i = 0; i < n; ++i) dst[i] = src[i];
}
void g723_1_Copy_SubFrLen(const Word16* src, Word16* dst) {
  for (int i = 0; i < 60; ++i) dst[i] = src[i];
}
void g723_1_CopyPM(const Word16* src, Word16* dst) {
  for (int i = 0; i < 145; ++i) dst[i] = src[i];
}
void g723_1_Copy85(const Word16* src, Word16* dst) {
  for (int i = 0; i < 85; ++i) dst[i] = src[i];
}

void g723_1_Vec_shl_SFL(const Word16* src, Word16* dst, Word16 shift) {
  for (int i = 0; i < 60; ++i) dst[i] = g723_1_shl(src[i], shift);
}

void g723_1_Vec_shl_FR(const Word16* src, Word16* dst, Word16 shift) {
  for (int i = 0; i < 240; ++i) dst[i] = g723_1_shl(src[i], shift);
}
