// The access-point index of GzipFileManager: a small table of points with their windows.
#include "file/access_index.h"

#include <zlib.h>

#include <algorithm>

#include "platform/heap.h"

namespace kestrel {

AccessIndex::~AccessIndex() { clear(); }

void AccessIndex::configure(bool enabled, std::uint32_t span) {
  enabled_ = enabled;
  firstSpan_ = std::max<std::uint32_t>(span, 1);
  if (!enabled_) {
    clear();
  } else if (count_ == 0) {
    span_ = firstSpan_;
  }
}

void AccessIndex::start() {
  clear();
  refused_ = false;
  span_ = firstSpan_;
}

void AccessIndex::clear() {
  for (std::uint32_t i = 0; i < count_; ++i) ce::LocalFree(points_[i].window);
  for (std::uint32_t i = 0; i < spareCount_; ++i) ce::LocalFree(spare_[i]);
  count_ = 0;
  spareCount_ = 0;
  tailKnown_ = false;
}

void AccessIndex::dropAll() {
  clear();
  refused_ = true;
}

bool AccessIndex::due(std::uint32_t out) const {
  if (!enabled_ || refused_) return false;
  const std::uint32_t last = count_ ? points_[count_ - 1].out : 0;
  // Rising offsets only: a file whose content passes 4 GiB wraps, and wrapped offsets are
  // not indexed.
  return out > last && std::uint64_t{out} - last >= span_;
}

std::uint8_t* AccessIndex::takeWindow() {
  if (spareCount_ > 0) return spare_[--spareCount_];
  auto* window = static_cast<std::uint8_t*>(ce::LocalAlloc(ce::LmemFixed, WindowBytes));
  if (window) peakBytes_ = std::max(peakBytes_, bytes() + WindowBytes);
  return window;
}

void AccessIndex::thin() {
  // Keep the 2nd, 4th, ... point: the spacing doubles and the first point stays about one
  // (new) span from the start.
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (i % 2 == 1) {
      points_[kept++] = points_[i];
    } else {
      spare_[spareCount_++] = points_[i].window;
    }
  }
  count_ = kept;
  span_ = span_ <= 0x7FFFFFFFu ? span_ * 2 : 0xFFFFFFFFu;
}

void AccessIndex::record(const AccessPoint& where, z_stream_s* stream) {
  if (count_ == MaxPoints) thin();
  if (!due(where.out)) return;
  std::uint8_t* window = takeWindow();
  if (!window) {
    dropAll();
    return;
  }
  uInt length = 0;
  if (inflateGetDictionary(stream, window, &length) != Z_OK || length > WindowBytes) {
    spare_[spareCount_++] = window;
    return;
  }
  AccessPoint& point = points_[count_++];
  point = where;
  point.window = window;
  point.windowBytes = length;
}

void AccessIndex::recordPlainTail(std::uint32_t out, std::uint32_t source) {
  if (!enabled_ || refused_) return;
  tailKnown_ = true;
  tailOut_ = out;
  tailSource_ = source;
}

const AccessPoint* AccessIndex::below(std::uint32_t target) const {
  if (!enabled_ || refused_) return nullptr;
  const AccessPoint* found = nullptr;
  for (std::uint32_t i = 0; i < count_ && points_[i].out <= target; ++i) found = &points_[i];
  return found;
}

std::size_t AccessIndex::bytes() const {
  return sizeof points_ + std::size_t{count_ + spareCount_} * WindowBytes;
}

}  // namespace kestrel
