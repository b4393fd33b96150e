// Platform identification: the PlatformId pair, the wildcard match and the table of the 40
// known processor classes, makers and machines.
#pragma once
#include <cstddef>
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

struct PlatformEntry {
  PlatformId id;
  const char16_t* name;
  // An entry that names one machine (both words nonzero) is offered to the user.
  bool selectable() const { return id.cpu != 0 && id.machine != 0; }
};

extern const PlatformEntry platformTable[];
extern const std::size_t platformTableCount;  // 40

// 0 when `id` does not fit `pattern`, otherwise 1 + the number of the eight fields in which
// both are equal (1..9). Only the pattern's zero fields are wildcards.
unsigned platformMatch(const PlatformId& id, const PlatformId& pattern);

// The selectable entry at selectable position i (counting only selectable entries, in table
// order), or null when i is not a selectable position.
const PlatformEntry* selectableEntry(int i);
const char16_t* platformName(int i);
// Selectable position of the entry whose words equal `id` exactly; 0 when there is none.
int platformIndex(const PlatformId& id);
// Copies the id of the selectable entry at position i into `target`; does nothing when i is
// not a selectable position.
void selectPlatform(int i, PlatformId& target);

// The same, on the settings object's `platform`.
int platformIndex();
void selectPlatform(int i);

}  // namespace kestrel
