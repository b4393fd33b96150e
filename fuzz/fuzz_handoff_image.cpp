// The hand-off image reader on arbitrary bytes; what it accepts must encode back to the same
// bytes, and name a processor that the runners know, of the family the image gives.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "handoff/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::handoff::HandoffImage image;
  std::string error;
  if (kestrel::handoff::decodeImage(data, size, image, error)) {
    std::vector<std::uint8_t> again = kestrel::handoff::encodeImage(image);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
    const bool sa = image.processor == "SA-1100" || image.processor == "SA-1110";
    const bool pxa = image.processor == "PXA250" || image.processor == "PXA255" || image.processor == "PXA270";
    if (!(sa && image.family == handheld::Family::SA11x0) && !(pxa && image.family == handheld::Family::PXA2x0)) {
      std::abort();
    }
  }
  return 0;
}
