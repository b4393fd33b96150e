#include "common/processor_family.h"

namespace kestrel {

namespace {

// The cpu words of "ARM STRONGARM SA1100", "ARM STRONGARM SA1110", "ARM XSCALE PXA250" and
// "ARM XSCALE PXA270".
constexpr struct {
  PlatformId pattern;
  ProcessorFamily family;
} families[] = {
    {{0x0C104000, 0}, ProcessorFamily::SA11x0},
    {{0x0C108000, 0}, ProcessorFamily::SA11x0},
    {{0x0C204000, 0}, ProcessorFamily::PXA2x0},
    {{0x0C208000, 0}, ProcessorFamily::PXA2x0},
};

}  // namespace

std::optional<ProcessorFamily> architectureFor(const PlatformId& platform) {
  for (const auto& entry : families) {
    if (platformMatch(platform, entry.pattern)) return entry.family;
  }
  return std::nullopt;
}

std::optional<ProcessorFamily> processorFamilyOf(std::uint32_t mainId) {
  // Main ID: implementer [31:24], variant [23:20], architecture [19:16], part [15:4],
  // revision [3:0]. The StrongARMs carry their part number there; the XScale cores put a core
  // generation ([15:13]: 1 for the PXA25x, 2 for the PXA27x) and product number in the part
  // field, so the implementer (Intel), the architecture (5TE) and the generation tell them.
  const std::uint32_t implementer = mainId >> 24, architecture = (mainId >> 16) & 0xF, part = (mainId >> 4) & 0xFFF;
  if ((implementer == 0x44 || implementer == 0x69) && architecture == 0x1 && (part == 0xA11 || part == 0xB11)) {
    return ProcessorFamily::SA11x0;
  }
  const std::uint32_t generation = part >> 9;
  if (implementer == 0x69 && architecture == 0x5 && (generation == 1 || generation == 2)) return ProcessorFamily::PXA2x0;
  return std::nullopt;
}

const char* familyName(ProcessorFamily family) { return family == ProcessorFamily::SA11x0 ? "SA-11x0" : "PXA-2x0"; }

}  // namespace kestrel
