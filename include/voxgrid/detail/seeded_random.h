#ifndef VOXGRID_DETAIL_SEEDED_RANDOM_H
#define VOXGRID_DETAIL_SEEDED_RANDOM_H

#include <cstdint>

namespace voxgrid {

// SplitMix64: small, fast and the same sequence on every platform and standard
// library, so a seed names one set of points or one heap history everywhere
// (std::uniform_int_distribution does not promise that).
class SeededRandom {
public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n) for n >= 1, by the high half of a 64x64-bit product
  // (bias below n / 2^64, far below anything measured here).
  std::uint64_t below(std::uint64_t n) {
    __extension__ typedef unsigned __int128 Wide; // a compiler extension; -Wpedantic knows
    return static_cast<std::uint64_t>((static_cast<Wide>(next()) * n) >> 64);
  }

private:
  std::uint64_t state_;
};

} // namespace voxgrid

#endif
