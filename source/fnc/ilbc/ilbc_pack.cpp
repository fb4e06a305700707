// iLBC bit-stream packing. Each row of a mode's table sends `width` bits of one index, starting
// at bit `low` of it; a split index sends its high part in an earlier, more protected class.
#include "ilbc_pack.h"

#include <cstring>
#include <span>

namespace ilbc {
namespace {

enum class F : std::uint8_t { Lsf, Start, StateFirst, IdxForMax, IdxVec, ExtraCb, ExtraGain, Cb, Gain, Final };

struct Row {
  F field;
  std::uint8_t index;
  std::uint8_t width;  // bits per value (per sample for IdxVec)
  std::uint8_t low;    // index bit that the row's last bit carries
};

constexpr Row kRows20[] = {
    {F::Lsf, 0, 6, 0}, {F::Lsf, 1, 7, 0}, {F::Lsf, 2, 7, 0}, {F::Start, 0, 2, 0}, {F::StateFirst, 0, 1, 0},
    {F::IdxForMax, 0, 6, 0}, {F::ExtraCb, 0, 6, 1}, {F::ExtraGain, 0, 2, 3}, {F::ExtraGain, 1, 1, 3},
    {F::Cb, 0, 7, 1}, {F::Gain, 0, 1, 4}, {F::Gain, 1, 1, 3}, {F::Gain, 3, 1, 4},
    // class 2
    {F::IdxVec, 0, 1, 2}, {F::ExtraGain, 1, 1, 2}, {F::Gain, 0, 2, 2}, {F::Gain, 1, 1, 2}, {F::Gain, 3, 1, 3},
    {F::Gain, 4, 2, 2},
    // class 3
    {F::IdxVec, 0, 2, 0}, {F::ExtraCb, 0, 1, 0}, {F::ExtraCb, 1, 7, 0}, {F::ExtraCb, 2, 7, 0},
    {F::ExtraGain, 0, 3, 0}, {F::ExtraGain, 1, 2, 0}, {F::ExtraGain, 2, 3, 0}, {F::Cb, 0, 1, 0}, {F::Cb, 1, 7, 0},
    {F::Cb, 2, 7, 0}, {F::Cb, 3, 8, 0}, {F::Cb, 4, 8, 0}, {F::Cb, 5, 8, 0}, {F::Gain, 0, 2, 0}, {F::Gain, 1, 2, 0},
    {F::Gain, 2, 3, 0}, {F::Gain, 3, 3, 0}, {F::Gain, 4, 2, 0}, {F::Gain, 5, 3, 0}, {F::Final, 0, 1, 0},
};

constexpr Row kRows30[] = {
    {F::Lsf, 0, 6, 0}, {F::Lsf, 1, 7, 0}, {F::Lsf, 2, 7, 0}, {F::Lsf, 3, 6, 0}, {F::Lsf, 4, 7, 0},
    {F::Lsf, 5, 7, 0}, {F::Start, 0, 3, 0}, {F::StateFirst, 0, 1, 0}, {F::IdxForMax, 0, 6, 0},
    {F::ExtraCb, 0, 4, 3}, {F::ExtraGain, 0, 1, 4}, {F::ExtraGain, 1, 1, 3}, {F::Cb, 0, 6, 2}, {F::Gain, 0, 1, 4},
    {F::Gain, 1, 1, 3},
    // class 2
    {F::IdxVec, 0, 1, 2}, {F::ExtraCb, 0, 2, 1}, {F::ExtraGain, 0, 1, 3}, {F::ExtraGain, 1, 1, 2},
    {F::Cb, 0, 1, 1}, {F::Cb, 3, 7, 1}, {F::Cb, 6, 7, 1}, {F::Cb, 9, 7, 1}, {F::Gain, 0, 2, 2}, {F::Gain, 1, 2, 1},
    {F::Gain, 3, 2, 3}, {F::Gain, 4, 2, 2}, {F::Gain, 6, 1, 4}, {F::Gain, 7, 1, 3}, {F::Gain, 9, 1, 4},
    {F::Gain, 10, 1, 3},
    // class 3
    {F::IdxVec, 0, 2, 0}, {F::ExtraCb, 0, 1, 0}, {F::ExtraCb, 1, 7, 0}, {F::ExtraCb, 2, 7, 0},
    {F::ExtraGain, 0, 3, 0}, {F::ExtraGain, 1, 2, 0}, {F::ExtraGain, 2, 3, 0}, {F::Cb, 0, 1, 0}, {F::Cb, 1, 7, 0},
    {F::Cb, 2, 7, 0}, {F::Cb, 3, 1, 0}, {F::Cb, 4, 8, 0}, {F::Cb, 5, 8, 0}, {F::Cb, 6, 1, 0}, {F::Cb, 7, 8, 0},
    {F::Cb, 8, 8, 0}, {F::Cb, 9, 1, 0}, {F::Cb, 10, 8, 0}, {F::Cb, 11, 8, 0}, {F::Gain, 0, 2, 0},
    {F::Gain, 1, 1, 0}, {F::Gain, 2, 3, 0}, {F::Gain, 3, 3, 0}, {F::Gain, 4, 2, 0}, {F::Gain, 5, 3, 0},
    {F::Gain, 6, 4, 0}, {F::Gain, 7, 3, 0}, {F::Gain, 8, 3, 0}, {F::Gain, 9, 4, 0}, {F::Gain, 10, 3, 0},
    {F::Gain, 11, 3, 0}, {F::Final, 0, 1, 0},
};

i16* field_of(IndexSet& s, F f, int index, i16* final_bit) {
  switch (f) {
    case F::Lsf: return &s.lsf_i[index];
    case F::Start: return &s.start;
    case F::StateFirst: return &s.state_first;
    case F::IdxForMax: return &s.idxForMax;
    case F::IdxVec: return &s.idxVec[index];
    case F::ExtraCb: return &s.extra_cb_index[index];
    case F::ExtraGain: return &s.extra_gain_index[index];
    case F::Cb: return &s.cb_index[index];
    case F::Gain: return &s.gain_index[index];
    case F::Final: return final_bit;
  }
  return final_bit;
}

}  // namespace

// Bit n of the frame is bit 15 - (n mod 16) of word n / 16. Appends the `bitno` low bits of
// `index` at bit `pos` of the current word, most significant first, moving on to the next word
// at its end. Only the field's own bits are written, so nothing past the frame's last word is
// touched.
void ilbc_dopack(std::uint16_t** bitstream, unsigned index, int bitno, int* pos) {
  for (int b = bitno - 1; b >= 0; --b) {
    const std::uint16_t mask = static_cast<std::uint16_t>(1u << (15 - *pos));
    **bitstream = static_cast<std::uint16_t>(((index >> b) & 1u) ? (**bitstream | mask) : (**bitstream & ~mask));
    if (++*pos == 16) {
      *pos = 0;
      ++*bitstream;
    }
  }
}

// Reads `bitno` bits at bit `pos` of the current word (reaching into the next word when needed),
// ORs them into *index and then shifts *index left by `shift`.
void ilbc_unpackOrThenShift(const std::uint16_t** bitstream, i16* index, int bitno, int* pos, int shift) {
  unsigned v = 0;
  for (int b = 0; b < bitno; ++b) {
    v = (v << 1) | ((**bitstream >> (15 - *pos)) & 1u);
    if (++*pos == 16) {
      *pos = 0;
      ++*bitstream;
    }
  }
  *index = static_cast<i16>(static_cast<unsigned>(*index | static_cast<i16>(v)) << shift);
}

namespace {

std::span<const Row> rows_for(int mode) {
  if (mode == 30) return kRows30;
  return kRows20;
}
int state_len(int mode) { return mode == 30 ? 58 : 57; }

}  // namespace

void ilbc_pack_data(int mode, std::uint16_t* p_enc_data, const IndexSet& set) {
  IndexSet s = set;
  i16 final_bit = 0;
  std::uint16_t* word = p_enc_data;
  int pos = 0;
  for (const Row& r : rows_for(mode)) {
    const unsigned mask = (1u << r.width) - 1u;
    const int count = r.field == F::IdxVec ? state_len(mode) : 1;
    for (int k = 0; k < count; ++k) {
      const i16 v = *field_of(s, r.field, r.index + k, &final_bit);
      ilbc_dopack(&word, (static_cast<unsigned>(v) >> r.low) & mask, r.width, &pos);
    }
  }
}

int ilbc_unpack_data(int mode, const std::uint16_t* p_enc_data, IndexSet* set) {
  std::memset(set, 0, sizeof *set);
  i16 final_bit = 0;
  const std::uint16_t* word = p_enc_data;
  int pos = 0;
  for (const Row& r : rows_for(mode)) {
    const int count = r.field == F::IdxVec ? state_len(mode) : 1;
    for (int k = 0; k < count; ++k) {
      i16* f = field_of(*set, r.field, r.index + k, &final_bit);
      i16 part = 0;
      ilbc_unpackOrThenShift(&word, &part, r.width, &pos, r.low);
      *f = static_cast<i16>(*f | part);
    }
  }
  return final_bit;
}

void ilbc_pack_data_20(std::uint16_t* p, const IndexSet& s) { ilbc_pack_data(20, p, s); }
void ilbc_pack_data_30(std::uint16_t* p, const IndexSet& s) { ilbc_pack_data(30, p, s); }
int ilbc_unpack_data_20(const std::uint16_t* p, IndexSet* s) { return ilbc_unpack_data(20, p, s); }
int ilbc_unpack_data_30(const std::uint16_t* p, IndexSet* s) { return ilbc_unpack_data(30, p, s); }

}  // namespace ilbc
