// Access points into a compressed file: places inside its deflate data where inflation can
// start again without going back to the beginning of the file. GzipFileManager keeps them
// while it inflates, so a seek back (or far ahead) costs at most one span of inflation
// instead of everything before the target.
#pragma once
#include <cstddef>
#include <cstdint>

struct z_stream_s;

namespace kestrel {

// The state of the inflation at a deflate block boundary: enough to go on from there with a
// fresh raw inflate (the pending bits primed, the window set as the dictionary).
struct AccessPoint {
  std::uint32_t out = 0;         // offset in the whole decompressed file
  std::uint32_t memberBase = 0;  // where the point's member begins in the decompressed file
  std::uint32_t source = 0;      // source offset of the first compressed byte not yet taken
  std::uint32_t chunkStart = 0;  // source offset of the input buffer's first byte
  std::uint32_t crc = 0;         // CRC-32 of the member's bytes before `out`
  int bits = 0;                  // bits of the byte before `source` not yet inflated (0 to 7)
  std::uint32_t windowBytes = 0; // the member's last bytes before `out`, at most 32 KiB
  std::uint8_t* window = nullptr;
};

// The bounded index of one open file: at most MaxPoints points, roughly `span` bytes of
// output apart, in rising order. When a file needs more, every other point is dropped and the
// span doubles. The windows come from the platform heap; when the heap refuses one, the whole
// index is dropped and stays off until the next file is opened, so seeks restart from the
// beginning as they would without it. Plain data after the last member needs no window: where
// it begins is kept on the side.
class AccessIndex {
 public:
  static constexpr std::uint32_t MaxPoints = 16;
  static constexpr std::uint32_t WindowBytes = 32768;
  static constexpr std::uint32_t DefaultSpan = 64 * 1024;

  AccessIndex() = default;
  ~AccessIndex();
  AccessIndex(const AccessIndex&) = delete;
  AccessIndex& operator=(const AccessIndex&) = delete;

  // Switches the index on or off; `span` (at least 1) is the spacing it starts each file with.
  // Switching off drops what is held at once; switching on takes effect from here.
  void configure(bool enabled, std::uint32_t span);
  bool enabled() const { return enabled_; }

  // A newly opened file: nothing known, the first span again, the heap asked again.
  void start();
  // Drops every point and returns the windows to the heap.
  void clear();

  // Whether a block boundary at decompressed offset `out` should become a point.
  bool due(std::uint32_t out) const;
  // Records a point at a block boundary of `stream`, taking the window from it. A full index
  // is thinned first; a point no longer due after that is not recorded.
  void record(const AccessPoint& where, z_stream_s* stream);
  // Plain data begins at decompressed offset `out`, source offset `source`, after a member.
  void recordPlainTail(std::uint32_t out, std::uint32_t source);

  // The point with the greatest offset at or below `target`; null when there is none.
  const AccessPoint* below(std::uint32_t target) const;
  bool plainTailKnown() const { return tailKnown_; }
  std::uint32_t plainTailOut() const { return tailOut_; }
  std::uint32_t plainTailSource() const { return tailSource_; }

  std::uint32_t count() const { return count_; }
  std::uint32_t span() const { return span_; }
  const AccessPoint& point(std::uint32_t i) const { return points_[i]; }
  // Bytes of the index now (table and windows held), and the most since construction.
  std::size_t bytes() const;
  std::size_t peakBytes() const { return peakBytes_ > bytes() ? peakBytes_ : bytes(); }

 private:
  void thin();
  std::uint8_t* takeWindow();
  void dropAll();

  AccessPoint points_[MaxPoints];
  std::uint32_t count_ = 0;
  // Windows of dropped points, kept for the next points of the same file.
  std::uint8_t* spare_[MaxPoints] = {};
  std::uint32_t spareCount_ = 0;
  bool enabled_ = true;
  bool refused_ = false;  // the heap refused a window: off until the next start()
  std::uint32_t firstSpan_ = DefaultSpan;
  std::uint32_t span_ = DefaultSpan;
  bool tailKnown_ = false;
  std::uint32_t tailOut_ = 0;
  std::uint32_t tailSource_ = 0;
  std::size_t peakBytes_ = 0;
};

}  // namespace kestrel
