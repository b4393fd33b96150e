// Framebuffers known in advance, and the description chosen for one platform. The kernel
// gets it in BootInfo; the system-information dump prints the screen through it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/platform_id.h"

namespace kestrel {

// One row of the table: the platforms it fits, and the framebuffer those machines have.
// Line bytes and address 0 mean that the table does not know them.
struct FrameBufferEntry {
  PlatformId pattern;
  std::uint32_t depth;  // bits per pixel
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t lineBytes;
  std::uint32_t address;  // physical
};

extern const FrameBufferEntry frameBufferTable[];
extern const std::size_t frameBufferTableCount;  // 6

// The framebuffer description for a platform: a table entry that fits it (one with the
// screen's own depth wins; otherwise the last fitting one), or, when none fits, the screen
// itself with line bytes and address 0. Made and dropped where it is needed.
class FrameBufferInfo {
 public:
  explicit FrameBufferInfo(const PlatformId& platform);
  FrameBufferInfo(const FrameBufferInfo&) = delete;  // may point into itself
  FrameBufferInfo& operator=(const FrameBufferInfo&) = delete;

  std::uint32_t depth() const { return entry_->depth; }
  std::uint32_t width() const { return entry_->width; }
  std::uint32_t height() const { return entry_->height; }
  std::uint32_t lineBytes() const { return entry_->lineBytes; }
  std::uint32_t address() const { return entry_->address; }
  // The table row chosen, or null when the screen was described.
  const FrameBufferEntry* tableEntry() const { return entry_ == &own_ ? nullptr : entry_; }

 private:
  FrameBufferEntry own_{};
  const FrameBufferEntry* entry_;
};

// The BootInfo framebuffer type code for a depth, with and without reverse video.
int frameBufferType(std::uint32_t depth, bool reverseVideo);

}  // namespace kestrel
