#include "arch/framebuffer.h"

#include "platform/display.h"

namespace kestrel {

const FrameBufferEntry frameBufferTable[] = {
    // HP Jornada 820 and its Japanese variant: 8-bit 640x480; the table does not know where.
    {{0x0C104000, 0x02C20301}, 8, 640, 480, 0, 0},
    {{0x0C104000, 0x02C20302}, 8, 640, 480, 0, 0},
    // Every HP Jornada 7XX: the SA-1110 LCD controller's buffer in static memory bank 4.
    {{0x0C108000, 0x02C20200}, 16, 640, 240, 1280, 0x48200000},
    {{0x0C108000, 0x01C40201}, 16, 320, 240, 640, 0},  // Compaq iPAQ H3600
    {{0x0C204000, 0x01C40301}, 16, 320, 240, 640, 0},  // Compaq iPAQ H3900
    {{0x0C204000, 0x04010100}, 16, 800, 600, 1600, 0x14200000},  // PSIONTEKLOGIX NETBOOK PRO
};
const std::size_t frameBufferTableCount = sizeof frameBufferTable / sizeof frameBufferTable[0];

FrameBufferInfo::FrameBufferInfo(const PlatformId& platform) : entry_(nullptr) {
  ce::HDC screen = ce::GetDC(nullptr);
  auto depth = static_cast<std::uint32_t>(ce::GetDeviceCaps(screen, ce::BitsPixel));

  const FrameBufferEntry* remembered = nullptr;
  for (std::size_t i = 0; i < frameBufferTableCount; ++i) {
    const FrameBufferEntry& e = frameBufferTable[i];
    if (platformMatch(platform, e.pattern) == 0) continue;
    if (e.depth == depth) {
      entry_ = &e;
      break;
    }
    remembered = &e;  // a later fitting entry replaces an earlier one
  }
  if (!entry_) entry_ = remembered;
  if (!entry_) {
    own_.depth = depth;
    own_.width = static_cast<std::uint32_t>(ce::GetDeviceCaps(screen, ce::HorzRes));
    own_.height = static_cast<std::uint32_t>(ce::GetDeviceCaps(screen, ce::VertRes));
    entry_ = &own_;
  }
  ce::ReleaseDC(nullptr, screen);
}

int frameBufferType(std::uint32_t depth, bool reverseVideo) {
  switch (depth) {
    case 4: return reverseVideo ? 8 : 10;
    case 8: return reverseVideo ? 4 : 3;
    case 16: return reverseVideo ? 6 : 5;
    default: return reverseVideo ? 0 : 2;
  }
}

}  // namespace kestrel
