// Inputs shared by the line-service benchmarks: the speech fixture and a frame ring over it.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "orvox_fixture.h"

namespace linebench {

inline std::vector<int16_t> speech8k() {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw"),
                  std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> x(raw.size() / 2);
  std::memcpy(x.data(), raw.data(), x.size() * 2);
  return x;
}

// Position of the next `n` samples in `x`, starting over at `from` at the end.
inline size_t advance(size_t& pos, size_t n, size_t size, size_t from = 0) {
  if (pos + n > size) pos = from;
  const size_t at = pos;
  pos += n;
  return at;
}

}  // namespace linebench
