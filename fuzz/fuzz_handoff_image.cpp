// The hand-off image reader on arbitrary bytes; what it accepts must encode back to the same bytes.
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
  }
  return 0;
}
