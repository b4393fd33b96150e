// The file manager the boot uses: it owns the source and decompresses gzip files on the fly,
// so a compressed kernel is read exactly like a plain one, at any offset.
#pragma once
#include <cstdint>
#include <memory>

#include "file/access_index.h"
#include "file/file_manager.h"

struct z_stream_s;

namespace kestrel {

class GzipFileManager final : public FileManager {
 public:
  static constexpr std::uint32_t InputBufferBytes = 1024;
  static constexpr std::uint32_t SkipPieceBytes = 256;

  // Owns `source`, which comes from the platform heap (makeSource); a null source (its
  // allocation failed) is reported here, and every operation then fails.
  GzipFileManager(ConsoleSlot console, FileManager* source);
  // With a source made elsewhere (in-memory sources of tests and the fuzzer).
  GzipFileManager(ConsoleSlot console, std::unique_ptr<FileManager> source);
  ~GzipFileManager() override;

  bool setRoot(const char16_t* directory) override;
  bool open(const char16_t* name) override;
  std::uint32_t size() override;
  std::uint32_t realSize() override;
  void close() override;
  std::int32_t read(void* buffer, std::uint32_t length, std::uint32_t offset) override;
  std::int32_t write(const void* buffer, std::uint32_t length, std::uint32_t offset) override;
  bool seek(std::uint32_t offset) override;

  FileManager* source() const { return source_.get(); }
  // 1 when the open file began with the gzip magic (until plain data follows a member).
  int compressed() const { return compressed_; }
  // Bytes inflate has produced since construction, rewinds and skips included: the cost of
  // an access pattern, measured by the benchmarks.
  std::uint64_t bytesInflated() const { return bytesInflated_; }

  // Access points (on by default): while a compressed file is inflated, points are kept about
  // every `span` bytes of output, and a seek goes on from the nearest one below its target
  // instead of from the start of the file. Off, every step back restarts at offset 0.
  // The bytes delivered are the same either way.
  void setAccessPoints(bool enabled, std::uint32_t span = AccessIndex::DefaultSpan) { index_.configure(enabled, span); }
  const AccessIndex& accessIndex() const { return index_; }

 private:
  using SourceDeleter = void (*)(FileManager*);

  void resetState();
  bool startInflate();
  void endInflate();
  void claimStream();
  void releaseStream();
  void rewind();
  bool resumeAt(const AccessPoint& point);
  bool resumeInPlainTail();
  bool jumpToward(std::uint32_t offset);
  int inflateStep(std::uint8_t*& start);
  void recordAccessPoint();
  int getByte();
  std::uint32_t getLong();
  void giveBack(int byte);
  void checkHeader();
  std::int32_t readHere(void* buffer, std::uint32_t length);
  std::int32_t readPlain(std::uint8_t* out, std::uint32_t length);
  std::int64_t skip(std::uint32_t count);
  std::uint32_t position() const;
  std::uint32_t sourceOffsetOf(std::uint32_t offset) const;

  z_stream_s* stream_ = nullptr;
  std::int32_t magic_[2];
  int status_ = 0;
  bool endOfInput_ = false;
  // One byte of room in front of the buffer: a magic byte consumed just before a refill can
  // still be given back (see giveBack).
  std::uint8_t inputRoom_[1 + InputBufferBytes] = {};
  std::uint8_t* const input_ = inputRoom_ + 1;
  std::uint32_t crc_ = 0;
  int compressed_ = 0;
  std::unique_ptr<FileManager, SourceDeleter> source_;

  // Positions. The stream's total_out counts from the start of the current member only; the
  // members before it add memberBase_, so offsets are those of the whole decompressed file.
  std::uint32_t memberBase_ = 0;
  // Plain data (a plain file, or plain bytes after a member): the uncompressed offset where it
  // begins and the source offset it begins at. Both 0 for a plain file.
  std::uint32_t plainBase_ = 0;
  std::uint32_t plainStart_ = 0;
  // Bytes taken from the source since its last seek: where the source stands.
  std::uint32_t sourcePosition_ = 0;
  bool inflateLive_ = false;
  std::uint64_t bytesInflated_ = 0;
  AccessIndex index_;
};

}  // namespace kestrel
