// Little-endian field access for the binary formats (kestrel.cnf, ELF, chain links, boot
// arguments, disk labels). Never punned through structs, so host layout and alignment play
// no part.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ce {

inline std::uint16_t getLe16(const void* p) {
  auto b = static_cast<const std::uint8_t*>(p);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
inline std::uint32_t getLe32(const void* p) {
  auto b = static_cast<const std::uint8_t*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline void putLe16(void* p, std::uint16_t v) {
  auto b = static_cast<std::uint8_t*>(p);
  b[0] = static_cast<std::uint8_t>(v);
  b[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putLe32(void* p, std::uint32_t v) {
  auto b = static_cast<std::uint8_t*>(p);
  b[0] = static_cast<std::uint8_t>(v);
  b[1] = static_cast<std::uint8_t>(v >> 8);
  b[2] = static_cast<std::uint8_t>(v >> 16);
  b[3] = static_cast<std::uint8_t>(v >> 24);
}

// a + b without 32-bit wrap; false when it would wrap.
inline bool addNoWrap(std::uint32_t a, std::uint32_t b, std::uint32_t& sum) {
  if (b > 0xFFFFFFFFu - a) return false;
  sum = a + b;
  return true;
}

}  // namespace ce
