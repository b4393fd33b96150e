// The processor families the loader can hand over on. Everything that differs by family is
// asked of the family's architecture (arch/) or of the tables keyed by this value; nothing
// switches on the raw cpu word.
#pragma once
#include <optional>

#include "common/platform_id.h"

namespace kestrel {

enum class ProcessorFamily {
  SA11x0,  // SA-1100, SA-1110
  PXA2x0,  // PXA250/PXA255, PXA270
};

// The family whose processors `platform` names: the first family pattern that accepts it
// (SA-1100, SA-1110, PXA250, PXA270; the patterns' machine word is 0, so any machine with
// that processor fits). None for any other processor.
std::optional<ProcessorFamily> architectureFor(const PlatformId& platform);

}  // namespace kestrel
