// What a hand-off image must hold for its chain to be walked, and the boot of an image in
// QEMU (qemu_runner.h) on the board for its processor.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "handoff/qemu_runner.h"
#include "handoff/image.h"

namespace kestrel::handoff {

// The chain as the 2nd bootloader will walk it, checked against the image: every link and
// every source inside the image's frames, no loop; and every place where a destination
// covers a page that the walk has still to read (a later link or source, the argument block
// read at the end, the 2nd bootloader's own page), which would make the walk read what it
// has just written.
struct ChainCheck {
  bool complete = false;           // the walk reached the end of the chain
  std::uint32_t links = 0, loadLinks = 0, zeroLinks = 0;
  std::uint64_t loadBytes = 0, zeroBytes = 0;
  std::uint32_t lowest = 0xFFFFFFFF, highest = 0;  // destinations as written (rebased on PXA-2x0)
  std::uint32_t entry = 0;                         // from the argument block, as entered
  std::vector<std::string> errors;                 // the chain cannot be walked
  std::vector<std::string> overlaps;               // destinations over pages still to be read
  std::uint32_t overlapCount = 0;                  // all of them; `overlaps` keeps the first few
};

ChainCheck checkChain(const HandoffImage& image);

struct ImageRun {
  QemuOptions options;
  std::string executable = "qemu-system-arm";
  std::filesystem::path workDir;  // for the RAM and ROM files; empty: a temporary folder
};

// Boots the image on its board: the frames go into the board's RAM at their addresses (those
// outside it are left out, and the run refused when the chain needs any of them), the start
// ROM enters the family's jump routine with the image's r0-r3.
QemuResult runImageInQemu(const HandoffImage& image, const ImageRun& run);

}  // namespace kestrel::handoff
