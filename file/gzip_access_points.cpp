// GzipFileManager's access points: recording them at deflate block boundaries while a file is
// inflated, and going on from one instead of from the start of the file when a seek jumps.
// Everything else of the layer is in gzip_file_manager.cpp.
#include <zlib.h>

#include "file/gzip_file_manager.h"

namespace kestrel {

namespace {

// Bits of z_stream::data_type after inflate returns (see zlib.h): the number of bits of the
// last input byte not yet used, whether the block inflate is in is the last one, and whether
// it stopped right after a block ended.
constexpr int UnusedBitsMask = 7;
constexpr int InLastBlock = 64;
constexpr int AtBlockBoundary = 128;

}  // namespace

int GzipFileManager::inflateStep(std::uint8_t*& start) {
  // What one inflate call with Z_NO_FLUSH does, done as a chain of calls that stop at the block
  // boundaries where an access point is due: the same input and output, no refill between, so
  // the reading goes on exactly as without points (damage found at the same read).
  const uInt inBefore = stream_->avail_in;
  const uInt outBefore = stream_->avail_out;
  bool pointDue = index_.due(position());
  for (;;) {
    const uInt room = stream_->avail_out;
    int status = inflate(stream_, pointDue ? Z_BLOCK : Z_NO_FLUSH);
    bytesInflated_ += room - stream_->avail_out;
    // A stop at a boundary can come without progress (the end of a block still in inflate's
    // bit buffer), which zlib calls Z_BUF_ERROR: nothing is wrong.
    const bool atBoundary =
        pointDue && (status == Z_OK || status == Z_BUF_ERROR) && (stream_->data_type & AtBlockBoundary) != 0;
    if (!atBoundary) {
      // zlib's Z_BUF_ERROR means that the call moved nothing; over the whole chain something
      // may have moved, and then a single call would have said Z_OK.
      if (status == Z_BUF_ERROR && (stream_->avail_in != inBefore || stream_->avail_out != outBefore)) status = Z_OK;
      return status;
    }
    if ((stream_->data_type & InLastBlock) == 0) {  // after the last block nothing is left to resume
      crc_ = crc32_z(crc_, start, static_cast<z_size_t>(stream_->next_out - start));
      start = stream_->next_out;
      recordAccessPoint();
    }
    pointDue = index_.due(position());
  }
}

void GzipFileManager::recordAccessPoint() {
  AccessPoint point;
  point.out = position();
  point.memberBase = memberBase_;
  point.source = sourcePosition_ - stream_->avail_in;
  // The input buffer holds one source read: where it began. (Compressed input is always in
  // the buffer proper; only plain bytes are ever given back in front of it.)
  point.chunkStart = sourcePosition_ - static_cast<std::uint32_t>(stream_->next_in - input_) - stream_->avail_in;
  point.crc = crc_;
  point.bits = stream_->data_type & UnusedBitsMask;
  index_.record(point, stream_);
}

bool GzipFileManager::resumeAt(const AccessPoint& point) {
  if (!inflateLive_ || inflateReset(stream_) != Z_OK) return false;
  // Bits left over in the byte before the point go in first.
  if (point.bits) {
    std::uint8_t partial = 0;
    if (!source_->seek(point.source - 1) || source_->read(&partial, 1, CurrentPosition) != 1) return false;
    if (inflatePrime(stream_, point.bits, partial >> (8 - point.bits)) != Z_OK) return false;
  }
  // The input buffer is filled by the same source read as when the point was taken, so the
  // input is cut into the same pieces from here on as on the way from the start of the file:
  // inflate then stops where it stopped then, and damage shows at the same reads.
  const std::uint32_t skipped = point.source - point.chunkStart;
  if (!source_->seek(point.chunkStart)) return false;
  const std::int32_t n = source_->read(input_, InputBufferBytes, CurrentPosition);
  if (n <= 0 || static_cast<std::uint32_t>(n) > InputBufferBytes || static_cast<std::uint32_t>(n) < skipped) return false;
  sourcePosition_ = point.chunkStart + static_cast<std::uint32_t>(n);
  stream_->next_in = input_ + skipped;
  stream_->avail_in = static_cast<std::uint32_t>(n) - skipped;
  endOfInput_ = false;
  if (point.windowBytes > 0 && inflateSetDictionary(stream_, point.window, point.windowBytes) != Z_OK) return false;
  // The member goes on: its length and CRC so far, so that its trailer is checked as if it
  // had been read from its start.
  memberBase_ = point.memberBase;
  stream_->total_out = point.out - point.memberBase;
  crc_ = point.crc;
  compressed_ = 1;
  status_ = Z_OK;
  plainBase_ = 0;
  plainStart_ = 0;
  return true;
}

bool GzipFileManager::resumeInPlainTail() {
  const std::uint32_t at = index_.plainTailSource();
  if (!source_->seek(at)) return false;
  sourcePosition_ = at;
  stream_->next_in = input_;
  stream_->avail_in = 0;
  endOfInput_ = false;
  memberBase_ = index_.plainTailOut();
  stream_->total_out = 0;
  compressed_ = 0;
  status_ = Z_OK;
  plainBase_ = index_.plainTailOut();
  plainStart_ = at;
  return true;
}

bool GzipFileManager::jumpToward(std::uint32_t offset) {
  const std::uint32_t here = position();
  const bool back = offset < here;
  // Ahead only while the stream is healthy: damage or the end already met stay where they are.
  if (!back && status_ != Z_OK) return false;
  // Only from a point strictly below the target: the way from the point then ends, like the
  // way from the start, with an inflate call that stops at the target and goes on as far as
  // it can without output (past a block header, to a member's end, into damage).
  if (offset == 0) return false;
  bool moved = false;
  if (index_.plainTailKnown() && index_.plainTailOut() < offset && (back || index_.plainTailOut() > here)) {
    moved = resumeInPlainTail();
  } else {
    const AccessPoint* point = index_.below(offset - 1);
    if (!point || (!back && point->out <= here)) return false;
    moved = resumeAt(*point);
  }
  // A source that cannot go back there leaves the state half changed: start over instead.
  if (!moved) rewind();
  return true;
}

}  // namespace kestrel
