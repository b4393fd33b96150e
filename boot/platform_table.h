// Platform identification: the table of the 40 known processor classes, makers and machines
// (PlatformId and its wildcard match are in common/).
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/platform_id.h"

namespace kestrel {

struct PlatformEntry {
  PlatformId id;
  const char16_t* name;
  // An entry that names one machine (both words nonzero) is offered to the user.
  bool selectable() const { return id.cpu != 0 && id.machine != 0; }
};

extern const PlatformEntry platformTable[];
extern const std::size_t platformTableCount;  // 40

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
