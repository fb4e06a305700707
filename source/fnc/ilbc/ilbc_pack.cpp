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

// Bit n of the frame is bit 15 - (n mod 16) of word n / 16.
class BitWriter {
 public:
  explicit BitWriter(std::uint16_t* words) : words_(words) {}
  void put(unsigned value, int bits) {
    for (int b = bits - 1; b >= 0; --b, ++pos_) {
      std::uint16_t& w = words_[pos_ / 16];
      const std::uint16_t mask = static_cast<std::uint16_t>(1u << (15 - pos_ % 16));
      w = static_cast<std::uint16_t>(((value >> b) & 1u) ? (w | mask) : (w & ~mask));
    }
  }
  int pos() const { return pos_; }

 private:
  std::uint16_t* words_;
  int pos_ = 0;
};

class BitReader {
 public:
  explicit BitReader(const std::uint16_t* words) : words_(words) {}
  unsigned get(int bits) {
    unsigned v = 0;
    for (int b = 0; b < bits; ++b, ++pos_) v = (v << 1) | ((words_[pos_ / 16] >> (15 - pos_ % 16)) & 1u);
    return v;
  }

 private:
  const std::uint16_t* words_;
  int pos_ = 0;
};

std::span<const Row> rows_for(int mode) {
  if (mode == 30) return kRows30;
  return kRows20;
}
int state_len(int mode) { return mode == 30 ? 58 : 57; }

}  // namespace

void ilbc_pack_data(int mode, std::uint16_t* p_enc_data, const IndexSet& set) {
  IndexSet s = set;
  i16 final_bit = 0;
  BitWriter w(p_enc_data);
  for (const Row& r : rows_for(mode)) {
    const unsigned mask = (1u << r.width) - 1u;
    const int count = r.field == F::IdxVec ? state_len(mode) : 1;
    for (int k = 0; k < count; ++k) {
      const i16 v = *field_of(s, r.field, r.index + k, &final_bit);
      w.put((static_cast<unsigned>(v) >> r.low) & mask, r.width);
    }
  }
}

int ilbc_unpack_data(int mode, const std::uint16_t* p_enc_data, IndexSet* set) {
  std::memset(set, 0, sizeof *set);
  i16 final_bit = 0;
  BitReader rd(p_enc_data);
  for (const Row& r : rows_for(mode)) {
    const int count = r.field == F::IdxVec ? state_len(mode) : 1;
    for (int k = 0; k < count; ++k) {
      i16* f = field_of(*set, r.field, r.index + k, &final_bit);
      *f = static_cast<i16>(*f | static_cast<i16>(rd.get(r.width) << r.low));
    }
  }
  return final_bit;
}

void ilbc_pack_data_20(std::uint16_t* p, const IndexSet& s) { ilbc_pack_data(20, p, s); }
void ilbc_pack_data_30(std::uint16_t* p, const IndexSet& s) { ilbc_pack_data(30, p, s); }
int ilbc_unpack_data_20(const std::uint16_t* p, IndexSet* s) { return ilbc_unpack_data(20, p, s); }
int ilbc_unpack_data_30(const std::uint16_t* p, IndexSet* s) { return ilbc_unpack_data(30, p, s); }

}  // namespace ilbc
