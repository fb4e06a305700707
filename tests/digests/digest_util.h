// Shared pieces of the same-bits digest programs: a 64-bit FNV-1a hash, the speech fixture and
// a deterministic generator for synthetic inputs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace digest {

struct Fnv1a {
  std::uint64_t h = 1469598103934665603ull;
  void bytes(const void* p, std::size_t n) {
    auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) {
      h ^= b[i];
      h *= 1099511628211ull;
    }
  }
  template <typename T>
  void words(const T* w, std::size_t n) { bytes(w, n * sizeof(T)); }
  void byte(std::uint8_t b) { bytes(&b, 1); }
  // One 16-bit sample, low byte first whatever the host's order.
  void sample(std::int16_t s) {
    byte(static_cast<std::uint8_t>(s & 0xFF));
    byte(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
};

// The same hash taken a 16-bit word at a step instead of a byte (the AMR digests' form).
struct Fnv1aWords {
  std::uint64_t h = 1469598103934665603ull;
  void add(const std::int16_t* w, int n) {
    for (int i = 0; i < n; ++i) {
      h ^= static_cast<std::uint16_t>(w[i]);
      h *= 1099511628211ull;
    }
  }
  void add(std::int16_t w) { add(&w, 1); }
};

// Little-endian 16-bit samples of a fixture, at most maxSamples of them. A missing or empty
// fixture ends the program with a message: a digest over nothing would prove nothing.
inline std::vector<std::int16_t> load_fixture(const std::string& path, std::size_t maxSamples) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::int16_t> s;
  unsigned char b[2];
  while (s.size() < maxSamples && in.read(reinterpret_cast<char*>(b), 2))
    s.push_back(static_cast<std::int16_t>(b[0] | (b[1] << 8)));
  if (s.empty()) {
    std::fprintf(stderr, "digest: fixture %s is missing or empty\n", path.c_str());
    std::exit(2);
  }
  return s;
}

// Linear congruential generator: the same sequence on every machine.
struct Lcg {
  std::uint32_t s = 12345;
  std::uint32_t next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  std::int16_t sample() { return static_cast<std::int16_t>(static_cast<int>(next() & 0xFFFF) - 32768); }
};

}  // namespace digest
