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

}  // namespace kestrel
