// The pair of words that names a processor and a machine model, and the wildcard match every
// table keyed by platform uses (the platform table, the processor families, the framebuffers).
#pragma once
#include <cstdint>

namespace kestrel {

// A processor and a machine model. Each word is cut into fields from the general to the
// particular; a zero field in a pattern stands for "any".
//   cpu:     architecture 31-26, series 25-20, model 19-14, variant 13-8; bits 7-0 are not
//            part of the identity.
//   machine: maker 31-22, product line 21-16, model 15-8, variant 7-0.
struct PlatformId {
  std::uint32_t cpu = 0;
  std::uint32_t machine = 0;
  friend bool operator==(const PlatformId&, const PlatformId&) = default;
};

// 0 when `id` does not fit `pattern`, otherwise 1 + the number of the eight fields in which
// both are equal (1..9). Only the pattern's zero fields are wildcards.
unsigned platformMatch(const PlatformId& id, const PlatformId& pattern);

}  // namespace kestrel
