// Transparent gzip reading over any source. The member header and trailer are parsed here and
// zlib inflates the raw deflate data between them, straight into the caller's buffer; the
// compressed input streams through one 1024-byte buffer, nothing is held whole.
#include "file/gzip_file_manager.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "platform/heap.h"

namespace kestrel {

namespace {

// There is one inflate stream in the process: only one GzipFileManager has a file open at a
// time. Every reset zeroes all of it, which leaves zalloc/zfree empty, so zlib allocates
// with its defaults.
z_stream theStream;
// The manager whose open file uses the stream; the stream is never zeroed under it.
GzipFileManager* streamHolder = nullptr;

// The CRC is zlib's crc32_z, never plain crc32: a program that also links the emulator library
// (the host's kestrel command, for its hand-off runners) gets that library's own, byte-at-a-time
// crc32 for the plain name, which made a third of a decompression's time.
constexpr int GzipMagic0 = 0x1F;
constexpr int GzipMagic1 = 0x8B;
constexpr int MethodDeflate = 8;
// Header flag bits.
constexpr int FlagHeaderCrc = 0x02;
constexpr int FlagExtra = 0x04;
constexpr int FlagName = 0x08;
constexpr int FlagComment = 0x10;
constexpr int FlagReserved = 0xE0;
// Raw deflate with a 32 KiB window: the gzip wrapper is ours to parse, not zlib's.
constexpr int RawWindowBits = -15;

void deleteFromHeap(FileManager* source) { ce::heapDelete(source); }
void deleteFromNew(FileManager* source) { delete source; }

}  // namespace

GzipFileManager::GzipFileManager(ConsoleSlot console, FileManager* source)
    : FileManager(console), magic_{GzipMagic0, GzipMagic1}, source_(source, deleteFromHeap) {
  if (!source_) this->console().print(u"can't allocate file manager.\n");
  resetState();
}

GzipFileManager::GzipFileManager(ConsoleSlot console, std::unique_ptr<FileManager> source)
    : FileManager(console), magic_{GzipMagic0, GzipMagic1}, source_(source.release(), deleteFromNew) {
  resetState();
}

GzipFileManager::~GzipFileManager() {
  // close() releases the stream; a manager destroyed with a file still open must not leave
  // zlib's state behind for the next one.
  releaseStream();
}

bool GzipFileManager::setRoot(const char16_t* directory) { return source_ && source_->setRoot(directory); }

std::uint32_t GzipFileManager::size() { return source_ ? source_->size() : 0; }

std::int32_t GzipFileManager::write(const void* buffer, std::uint32_t length, std::uint32_t offset) {
  return source_ ? source_->write(buffer, length, offset) : 0;
}

void GzipFileManager::resetState() {
  stream_ = &theStream;
  if (streamHolder == nullptr || streamHolder == this) std::memset(stream_, 0, sizeof *stream_);
  status_ = Z_OK;
  endOfInput_ = false;
  crc_ = 0;
  compressed_ = 0;
  memberBase_ = 0;
  plainBase_ = 0;
  plainStart_ = 0;
}

bool GzipFileManager::startInflate() {
  // ZLIB_VERSION and sizeof(z_stream) of the zlib linked in: inflateInit2_ checks both
  // against the library, so a mismatched header cannot go unnoticed.
  inflateLive_ = inflateInit2_(stream_, RawWindowBits, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) == Z_OK;
  stream_->next_in = input_;
  stream_->avail_in = 0;
  return inflateLive_;
}

void GzipFileManager::endInflate() {
  if (!inflateLive_) return;
  inflateEnd(stream_);
  inflateLive_ = false;
}

void GzipFileManager::claimStream() {
  // Only one manager reads through the stream at a time. One that opens while another still
  // has a file open takes the stream over; the other's reads fail from then on instead of
  // running on state that is no longer theirs.
  if (streamHolder && streamHolder != this) streamHolder->endInflate();
  streamHolder = this;
}

void GzipFileManager::releaseStream() {
  endInflate();
  if (streamHolder == this) streamHolder = nullptr;
}

bool GzipFileManager::open(const char16_t* name) {
  if (!source_ || !source_->open(name)) return false;
  claimStream();
  endInflate();  // an open without close in between must not leak the previous state
  resetState();
  index_.start();
  sourcePosition_ = 0;
  if (!startInflate()) {
    source_->close();
    return false;
  }
  // A damaged header is not an open failure: it shows as -1 from every read.
  checkHeader();
  return true;
}

void GzipFileManager::close() {
  releaseStream();
  index_.clear();
  if (source_) source_->close();
}

void GzipFileManager::rewind() {
  source_->seek(0);
  sourcePosition_ = 0;
  endInflate();
  resetState();
  startInflate();  // its result does not matter here: a failed init shows in the reads
  checkHeader();
}

int GzipFileManager::getByte() {
  if (endOfInput_) return -1;
  if (stream_->avail_in == 0) {
    const std::int32_t n = source_->read(input_, InputBufferBytes, CurrentPosition);
    if (n <= 0) {
      endOfInput_ = true;
      return -1;
    }
    const std::uint32_t got = std::min(static_cast<std::uint32_t>(n), InputBufferBytes);
    sourcePosition_ += got;
    stream_->avail_in = got;
    stream_->next_in = input_;
  }
  --stream_->avail_in;
  return *stream_->next_in++;
}

std::uint32_t GzipFileManager::getLong() {
  std::uint32_t value = 0;
  bool cut = false;
  for (int shift = 0; shift < 32; shift += 8) {
    const int byte = getByte();
    // End of input can fall at any byte of the word, not only the last.
    if (byte < 0) {
      cut = true;
      continue;
    }
    value |= static_cast<std::uint32_t>(byte) << shift;
  }
  if (cut) status_ = Z_DATA_ERROR;
  return value;
}

void GzipFileManager::giveBack(int byte) {
  // The byte is stored as well as counted: when it was the last of the previous buffer and a
  // refill has overwritten that, it goes into the room in front of input_. Only the two
  // magic bytes are ever given back, so one byte of room is enough.
  if (stream_->next_in <= inputRoom_) return;
  --stream_->next_in;
  *stream_->next_in = static_cast<std::uint8_t>(byte);
  ++stream_->avail_in;
}

void GzipFileManager::checkHeader() {
  const int first = getByte();
  if (first == -1) return;  // nothing (more) to read: an empty file, or the end of the last member
  const int second = first == magic_[0] ? getByte() : first;
  if (first != magic_[0] || second != magic_[1]) {
    // Not a member: from here on the bytes are delivered as they stand, starting with the
    // first byte of this check.
    // Checks happen at the start of the file and where a member ended: the uncompressed
    // position is the length of the members before.
    const std::uint32_t here = memberBase_ + static_cast<std::uint32_t>(stream_->total_out);
    compressed_ = 0;
    if (first == magic_[0] && second != -1) giveBack(second);
    giveBack(first);
    status_ = stream_->avail_in > 0 ? Z_OK : Z_STREAM_END;
    plainBase_ = here;
    plainStart_ = sourcePosition_ - stream_->avail_in;
    return;
  }
  compressed_ = 1;
  const int method = getByte();
  const int flags = getByte();
  if (method != MethodDeflate || (flags & FlagReserved) != 0) {  // flags -1 has them all set
    status_ = Z_DATA_ERROR;
    return;
  }
  for (int i = 0; i < 6; ++i) getByte();  // modification time, extra flags, operating system
  if (flags & FlagExtra) {
    const int low = getByte();
    const int high = getByte();
    for (int length = low + 256 * high; length > 0 && getByte() != -1; --length) {
    }
  }
  if (flags & FlagName) {
    for (int c = getByte(); c != 0 && c != -1; c = getByte()) {
    }
  }
  if (flags & FlagComment) {
    for (int c = getByte(); c != 0 && c != -1; c = getByte()) {
    }
  }
  if (flags & FlagHeaderCrc) {  // skipped, not verified
    getByte();
    getByte();
  }
  status_ = endOfInput_ ? Z_DATA_ERROR : Z_OK;
}

std::uint32_t GzipFileManager::position() const {
  if (!compressed_) return plainBase_ + (sourcePosition_ - stream_->avail_in - plainStart_);
  return memberBase_ + static_cast<std::uint32_t>(stream_->total_out);
}

std::int32_t GzipFileManager::readPlain(std::uint8_t* out, std::uint32_t length) {
  // What is still buffered first, then straight from the source, which stands just past it.
  const std::uint32_t buffered = std::min<std::uint32_t>(stream_->avail_in, length);
  std::memcpy(out, stream_->next_in, buffered);
  stream_->next_in += buffered;
  stream_->avail_in -= buffered;
  std::uint32_t done = buffered;
  // A source delivers all it is asked for while data lasts; should one ever stop short, the
  // next read tells the end from a pause.
  while (done < length) {
    const std::int32_t n = source_->read(out + done, length - done, CurrentPosition);
    if (n == -1) return -1;
    if (n <= 0) break;
    const std::uint32_t got = std::min(static_cast<std::uint32_t>(n), length - done);
    sourcePosition_ += got;
    done += got;
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t GzipFileManager::readHere(void* buffer, std::uint32_t length) {
  if (streamHolder != this) return -1;  // not open, or another manager took the stream
  if (status_ == Z_DATA_ERROR) return -1;
  if (status_ == Z_STREAM_END) return 0;
  // Counts are signed 32-bit; nobody asks for 2 GiB at once.
  length = std::min<std::uint32_t>(length, 0x7FFFFFFFu);

  auto* const out = static_cast<std::uint8_t*>(buffer);
  stream_->next_out = out;
  stream_->avail_out = length;
  std::uint8_t* start = out;

  while (stream_->avail_out > 0) {
    if (!compressed_) {
      // A plain file, or plain bytes after a member: they take no CRC.
      const std::uint32_t before = length - stream_->avail_out;
      const std::int32_t n = readPlain(stream_->next_out, stream_->avail_out);
      if (n == -1) return -1;
      return static_cast<std::int32_t>(before + static_cast<std::uint32_t>(n));
    }
    if (stream_->avail_in == 0 && !endOfInput_) {
      const std::int32_t n = source_->read(input_, InputBufferBytes, CurrentPosition);
      if (n <= 0) {
        endOfInput_ = true;
      } else {
        const std::uint32_t got = std::min(static_cast<std::uint32_t>(n), InputBufferBytes);
        sourcePosition_ += got;
        stream_->avail_in = got;
        stream_->next_in = input_;
      }
    }
    status_ = inflateStep(start);  // inflate, keeping access points on the way
    if (status_ == Z_STREAM_END) {
      // A member ended: its CRC and length must match the trailer.
      crc_ = crc32_z(crc_, start, static_cast<z_size_t>(stream_->next_out - start));
      start = stream_->next_out;
      const std::uint32_t memberLength = static_cast<std::uint32_t>(stream_->total_out);
      const std::uint32_t storedCrc = getLong();
      const std::uint32_t storedLength = getLong();
      if (status_ == Z_DATA_ERROR || storedCrc != crc_ || storedLength != memberLength) {
        status_ = Z_DATA_ERROR;
      } else {
        memberBase_ += memberLength;
        stream_->total_out = 0;  // the member is counted in memberBase_ from here on
        checkHeader();
        if (status_ == Z_OK && !compressed_) index_.recordPlainTail(plainBase_, plainStart_);
        if (status_ == Z_OK) {
          // A further member, or plain data, follows.
          inflateReset(stream_);
          crc_ = crc32_z(0, nullptr, 0);
        }
      }
    } else if (endOfInput_ && stream_->avail_in == 0 && stream_->avail_out > 0 &&
               (status_ == Z_OK || status_ == Z_BUF_ERROR)) {
      // The source ended inside the deflate data: inflate has produced all it can and the
      // member is incomplete. Damaged, like a trailer that does not match.
      status_ = Z_DATA_ERROR;
    }
    // Plain bytes after a member are delivered by the same call, so a short count always
    // means the end.
    if (status_ != Z_OK || (endOfInput_ && compressed_)) break;
  }
  crc_ = crc32_z(crc_, start, static_cast<z_size_t>(stream_->next_out - start));
  const std::uint32_t produced = length - stream_->avail_out;
  // Damage met before a single byte came out is an error, not the end of the file.
  if (produced == 0 && status_ == Z_DATA_ERROR) return -1;
  return static_cast<std::int32_t>(produced);
}

std::int32_t GzipFileManager::read(void* buffer, std::uint32_t length, std::uint32_t offset) {
  if (!source_) return -1;
  if (offset != CurrentPosition) seek(offset);
  return readHere(buffer, length);
}

std::int64_t GzipFileManager::skip(std::uint32_t count) {
  std::uint8_t scratch[SkipPieceBytes];
  std::int64_t total = 0;
  while (count > 0) {
    const std::uint32_t piece = std::min(count, SkipPieceBytes);
    const std::int32_t r = readHere(scratch, piece);
    if (r < 0) return r;
    count -= static_cast<std::uint32_t>(r);
    total += r;
    if (static_cast<std::uint32_t>(r) != piece) return total;
  }
  return total;
}

std::uint32_t GzipFileManager::sourceOffsetOf(std::uint32_t offset) const {
  std::uint32_t at = 0;
  // Past 4 GiB of source nothing is left to read: the read there returns 0.
  if (!ce::addNoWrap(plainStart_, offset - plainBase_, at)) at = 0xFFFFFFFFu;
  return at;
}

bool GzipFileManager::seek(std::uint32_t offset) {
  if (!source_ || streamHolder != this) return false;
  if (!compressed_ && offset >= plainBase_) {
    const std::uint32_t at = sourceOffsetOf(offset);
    source_->seek(at);
    sourcePosition_ = at;
    stream_->avail_in = 0;
    return true;
  }
  // The deflate data cannot be read in reverse: backwards (or far ahead) inflation goes on
  // from the nearest access point, or else from the start of the file.
  const bool jumped = jumpToward(offset);
  if (!jumped && offset < position()) rewind();
  // Plain data reached by a jump is read through, as it would have been from the member
  // before it: past its end the seek fails, as it does from there.
  if (!compressed_ && !jumped) return seek(offset);
  const std::uint32_t here = position();
  if (offset > here) {
    const std::int64_t skipped = skip(offset - here);
    if (skipped != static_cast<std::int64_t>(offset - here)) return false;
  }
  return true;
}

std::uint32_t GzipFileManager::realSize() {
  if (!source_ || streamHolder != this) return 0xFFFFFFFFu;
  if (!compressed_ && plainBase_ == 0 && plainStart_ == 0) return size();
  // No size field covers the whole file (each member's trailer has only its own, modulo
  // 2^32): decompress to the end, then come back.
  const std::uint32_t saved = position();
  std::int64_t n = skip(0x7FFFFFFFu);
  if (status_ == Z_DATA_ERROR) n = -1;
  seek(saved);
  return static_cast<std::uint32_t>(n);
}

}  // namespace kestrel
