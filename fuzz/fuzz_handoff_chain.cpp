// The chain walkers on arbitrary machines: `kestrel handoff verify` runs both the reference walk
// and the chain check on whatever image file it is given. The input is a small machine: one
// byte of layout (frame count, family), the jump's four registers as offsets into its memory,
// then the memory itself. Neither walker may crash, hang or grow without bound; and where no
// destination covers a page still to be read (so the walk reads every link as the check does)
// and both accept the chain, they count the same links.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "handoff/image.h"
#include "handoff/qemu_image.h"
#include "handoff/walk.h"
#include "platform/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel::handoff;
  if (size < 17) return 0;
  const std::uint32_t frames = 1 + (data[0] & 7);
  const bool pxa = data[0] & 8;
  const std::uint32_t base = pxa ? 0xA0000000u : 0xC0000000u;
  const std::uint32_t bytes = frames * FrameSize;

  HandoffImage image;
  image.family = pxa ? handheld::Family::PXA2x0 : handheld::Family::SA11x0;
  image.profile = "fuzz";
  image.processor = pxa ? "PXA270" : "SA-1110";
  image.memory = PhysicalMemory(0xA5);
  for (int i = 0; i < 4; ++i) {
    std::uint32_t word = ce::getLe32(data + 1 + 4 * i);
    // The top bit keeps the register as it stands (anywhere, unaligned); else it points in.
    image.r[i] = word & 0x80000000u ? word : base + word % bytes;
  }
  const std::uint8_t* content = data + 17;
  const std::size_t length = std::min<std::size_t>(size - 17, bytes);
  for (std::uint32_t at = 0; at < bytes; at += FrameSize) image.memory.frameAt(base + at);
  image.memory.write(base, content, length);

  WalkOptions options;
  options.maxLinks = 1u << 12;
  options.maxStoredBytes = 1u << 22;
  WalkResult walk;
  std::string error;
  const bool walked = walkChain(image, walk, error, options);
  if (!walked && error.empty()) std::abort();

  ChainCheck check = checkChain(image);
  if (walked && check.complete && check.overlapCount == 0 && walk.links.size() != check.links) std::abort();
  return 0;
}
