// The processor families the loader can hand over on. Everything that differs by family is
// asked of the family's architecture (arch/) or of the tables keyed by this value; nothing
// switches on the raw cpu word.
#pragma once
#include <cstdint>
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

// The family of the processor whose CP15 main ID register reads `mainId`: a StrongARM
// SA-1100 or SA-1110 (part number 0xA11 or 0xB11), or an XScale PXA-2x0 (Intel, ARMv5TE).
// None for any other processor.
std::optional<ProcessorFamily> processorFamilyOf(std::uint32_t mainId);

// "SA-11x0" or "PXA-2x0".
const char* familyName(ProcessorFamily family);

}  // namespace kestrel
