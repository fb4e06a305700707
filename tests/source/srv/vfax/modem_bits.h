// Page data for the modems' tests and benchmarks: random bits, one per byte, and the client's
// data blocks that carry them (a bit count, then the bits packed from bit 0 of each word).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace modembits {

inline std::vector<uint8_t> randomBits(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = uint8_t(rng() & 1);
  return b;
}

// One data block: the count, then bits[at .. at + n) packed.
inline std::vector<uint16_t> blockWords(const std::vector<uint8_t>& bits, size_t at, size_t n) {
  std::vector<uint16_t> words(1 + (n + 15) / 16, 0);
  words[0] = uint16_t(n);
  for (size_t i = 0; i < n; ++i)
    if (bits[at + i]) words[1 + i / 16] = uint16_t(words[1 + i / 16] | (1u << (i % 16)));
  return words;
}

// The bits of one data block as it travels in bytes (the count, then the packed words), appended
// to `bits`; a block too short for its count gives the bits it holds.
inline void appendBlockBits(const std::vector<uint8_t>& block, std::vector<uint8_t>& bits) {
  if (block.size() < 2) return;
  const size_t count = size_t(block[0] | (block[1] << 8));
  for (size_t i = 0; i < count && 2 + 2 * (i / 16) + 1 < block.size(); ++i) {
    const size_t at = 2 + 2 * (i / 16);
    const unsigned word = block[at] | (block[at + 1] << 8);
    bits.push_back(uint8_t((word >> (i % 16)) & 1));
  }
}

// All the bits as blocks of at most `blockBits`.
inline std::vector<std::vector<uint16_t>> blocks(const std::vector<uint8_t>& bits, size_t blockBits) {
  std::vector<std::vector<uint16_t>> out;
  for (size_t at = 0; at < bits.size(); at += blockBits)
    out.push_back(blockWords(bits, at, bits.size() - at < blockBits ? bits.size() - at : blockBits));
  return out;
}

}  // namespace modembits
