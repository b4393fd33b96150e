// What tests need to know of the probe kernel's data: the pattern it re-derives and the
// file-system image it accepts behind an "m=" argument (see README.md).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/bytes.h"

namespace kestrel::testing {

// The probe's word sequence: xorshift32 (13, 17, 5); each word is the state after one step.
inline std::uint32_t probeXorshift(std::uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

inline constexpr std::uint32_t probeRodataSeed = 0x2545F491;  // 262144 words of .rodata
inline constexpr std::uint32_t probeDataSeed = 0x9E3779B9;    // 1024 words of .data

// A probe image of `size` bytes (a multiple of 4, at least 16): "PROBEIMG", the size and the
// seed as little-endian words, then the pattern words from `seed`.
inline std::vector<std::uint8_t> makeProbeImage(std::uint32_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> image(size);
  const char magic[] = "PROBEIMG";
  for (int i = 0; i < 8; ++i) image[i] = static_cast<std::uint8_t>(magic[i]);
  ce::putLe32(&image[8], size);
  ce::putLe32(&image[12], seed);
  std::uint32_t x = seed;
  for (std::uint32_t at = 16; at + 4 <= size; at += 4) {
    x = probeXorshift(x);
    ce::putLe32(&image[at], x);
  }
  return image;
}

}  // namespace kestrel::testing
