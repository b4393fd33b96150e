// GzipFileManager over fuzzed bytes in memory, driven by a fuzzed sequence of reads at fuzzed
// offsets and lengths, seeks, realSize and reopens. Every answer is checked against a first
// pass that reads the file at rising offsets: whatever the order of access, the same offset
// must give the same bytes, and damage must stay damage. The whole sequence runs twice, with
// access points (a point at nearly every deflate block boundary, so that the index fills, is
// thinned and is used all the time) and without them, and every answer of the two runs must be
// the same.
//
// Input: the file, optionally followed by operations. When the last byte is 0 (as it is for
// any gzip file below 16 MiB, whose last byte is the top of its length word) the whole input
// is the file. Otherwise the last byte is the number of 7-byte operations before it, and the
// byte before those limits each source read (0: no limit), so refills fall anywhere.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "load/elf_loader.h"
#include "memory/memory_manager.h"
#include "tests/support/memory_file.h"

namespace {

using kestrel::FileManager;

class QuietConsole final : public kestrel::Console {
 public:
  void vprint(const char16_t*, const ce::FormatArg*, std::size_t) override {}
};

[[noreturn]] void violated(const char* what, long a, long b) {
  std::fprintf(stderr, "fuzz_gzip: %s (%ld, %ld)\n", what, a, b);
  std::abort();
}
// Every answer of a run, bytes read as a hash, in order.
struct Log {
  std::vector<std::uint64_t> answers;
  void note(std::int64_t value) { answers.push_back(static_cast<std::uint64_t>(value)); }
  void noteBytes(const std::uint8_t* bytes, std::int32_t n) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (std::int32_t i = 0; i < n; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    answers.push_back(hash);
  }
};

#define EXPECT(cond, a, b) \
  do {                     \
    if (!(cond)) violated(#cond, static_cast<long>(a), static_cast<long>(b)); \
  } while (0)

// Any read that returned -1, in the reference pass or after.
bool sawDamage = false;

// A memory manager with no pages: enough for a loader's setFile, which only asks for banks.
class NoPages final : public kestrel::MemoryManager {
 public:
  using MemoryManager::MemoryManager;
  std::uint32_t virtualToPhysical(std::uintptr_t) override { return NoPhysical; }
};

// The kernel loader and the image loader on the open file: both must refuse it.
void expectRefusedAsWhole(FileManager& file, kestrel::Console** slot) {
  FileManager* filePointer = &file;
  NoPages memory(slot, 4096);
  kestrel::MemoryManager* memoryPointer = &memory;
  kestrel::ElfLoader kernel(slot, &memoryPointer);
  file.seek(0);
  if (kernel.setFile(&filePointer)) violated("a damaged file was accepted as a kernel", 0, 0);
  file.seek(0);
  if (kernel.loadImage()) violated("a damaged file was accepted as an image", 0, 0);
}

// Past this much content the reference pass stops: enough to check, bounded for zip bombs.
constexpr std::size_t ReferenceLimit = 1 << 20;
constexpr std::uint32_t Damaged = 0xFFFFFFFFu;

struct Reference {
  std::vector<std::uint8_t> bytes;
  bool clean = false;    // read to a 0: the content is exactly `bytes`
  bool damaged = false;  // ended in -1 after `bytes`
};

Reference referencePass(FileManager& file, Log& log) {
  Reference ref;
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    if (ref.bytes.size() >= ReferenceLimit) return ref;
    const auto offset = static_cast<std::uint32_t>(ref.bytes.size());
    const std::int32_t n = file.read(buffer.data(), 4096, offset);
    EXPECT(n >= -1 && n <= 4096, n, offset);
    log.note(n);
    if (n == 0) {
      ref.clean = true;
      return ref;
    }
    if (n < 0) {
      ref.damaged = true;
      sawDamage = true;
      return ref;
    }
    ref.bytes.insert(ref.bytes.end(), buffer.begin(), buffer.begin() + n);
  }
}

// One read at `offset` (known), checked against the reference.
std::int32_t checkedRead(FileManager& file, const Reference& ref, std::uint32_t length, std::uint32_t offset,
                         bool explicitOffset, Log& log) {
  std::vector<std::uint8_t> buffer(length + 1);
  const std::int32_t n = file.read(buffer.data(), length, explicitOffset ? offset : FileManager::CurrentPosition);
  EXPECT(n >= -1 && n <= static_cast<std::int64_t>(length), n, length);
  log.note(n);
  log.noteBytes(buffer.data(), n);
  if (n < 0) sawDamage = true;
  // Asking for nothing gets 0, or -1 from a file already known to be damaged.
  if (length == 0) {
    EXPECT(n == 0 || (n == -1 && ref.damaged), n, offset);
    return n;
  }
  const std::size_t have = ref.bytes.size();
  if (n > 0) {
    EXPECT(offset + static_cast<std::uint64_t>(n) <= have || (!ref.clean && !ref.damaged), offset, n);
    if (offset + static_cast<std::uint64_t>(n) <= have)
      EXPECT(std::memcmp(buffer.data(), ref.bytes.data() + offset, n) == 0, offset, n);
  }
  if (ref.clean) {
    const std::uint64_t expected = offset >= have ? 0 : std::min<std::uint64_t>(length, have - offset);
    EXPECT(static_cast<std::uint64_t>(n) == expected, n, expected);
  } else if (ref.damaged) {
    if (offset + static_cast<std::uint64_t>(length) <= have) {
      EXPECT(n == static_cast<std::int32_t>(length), n, length);
    } else if (offset < have) {
      EXPECT(n == static_cast<std::int32_t>(have - offset), n, have - offset);
    } else {
      EXPECT(n == -1, n, offset);
    }
  }
  return n;
}

// The whole sequence on one manager, with or without access points.
void run(const std::uint8_t* data, std::size_t fileSize, std::uint32_t piece, const std::uint8_t* ops,
         std::size_t opCount, bool accessPoints, Log& log) {
  QuietConsole console;
  kestrel::Console* slot = &console;
  kestrel::GzipFileManager gz(&slot, std::make_unique<kestrel_testing::MemoryFile>(&slot, data, fileSize, piece));
  gz.setAccessPoints(accessPoints, 1);
  sawDamage = false;
  if (!gz.setRoot(u"\\") || !gz.open(u"fuzz")) violated("open of an in-memory file failed", 0, 0);

  const Reference ref = referencePass(gz, log);
  const bool plainFile = !(fileSize >= 2 && data[0] == 0x1F && data[1] == 0x8B);
  const bool complete = ref.clean || ref.damaged;

  gz.close();
  if (!gz.open(u"fuzz")) violated("reopen failed", 0, 0);
  const std::uint32_t whole = gz.realSize();
  log.note(whole);
  if (ref.clean) EXPECT(whole == ref.bytes.size(), whole, ref.bytes.size());
  if (ref.damaged) EXPECT(whole == Damaged, whole, ref.bytes.size());
  checkedRead(gz, ref, 52, 0, true, log);

  // The current position, while it is known.
  bool known = true;
  std::uint64_t position = 52;
  if (ref.bytes.size() < 52) known = ref.clean, position = ref.bytes.size();

  for (std::size_t k = 0; k < opCount; ++k) {
    const std::uint8_t* op = ops + 7 * k;
    const std::uint32_t length = (op[1] | (op[2] << 8)) & 0x7FFF;
    std::uint32_t offset = op[3] | (op[4] << 8) | (op[5] << 16) | (static_cast<std::uint32_t>(op[6]) << 24);
    // Mostly offsets around the content, where the boundaries are; now and then any offset.
    if (!(op[0] & 0x80)) offset %= static_cast<std::uint32_t>(ref.bytes.size() + 64);
    int code = op[0] % 5;
    if (code == 0 && offset == FileManager::CurrentPosition) code = 1;  // that offset means "here"
    switch (code) {
      case 0: {  // read at an offset
        const std::int32_t n = checkedRead(gz, ref, length, offset, true, log);
        known = n > 0 && complete;
        position = offset + static_cast<std::uint64_t>(n);
        break;
      }
      case 1: {  // read on from where the last operation left
        if (!known) {
          std::vector<std::uint8_t> buffer(length + 1);
          const std::int32_t n = gz.read(buffer.data(), length, FileManager::CurrentPosition);
          EXPECT(n >= -1 && n <= static_cast<std::int64_t>(length), n, length);
          log.note(n);
          log.noteBytes(buffer.data(), n);
          if (n < 0) sawDamage = true;
          break;
        }
        const std::int32_t n = checkedRead(gz, ref, length, static_cast<std::uint32_t>(position), false, log);
        known = n > 0;
        position += n > 0 ? n : 0;
        break;
      }
      case 2: {  // seek
        const bool moved = gz.seek(offset);
        log.note(moved);
        // Within the content a seek always arrives. Past the end a compressed file says no;
        // plain data (a plain file, or plain bytes after a member) is only repositioned.
        if (complete && offset <= ref.bytes.size()) EXPECT(moved, moved, offset);
        if (ref.clean && offset > ref.bytes.size() && plainFile) EXPECT(moved, moved, offset);
        known = moved && complete;
        position = offset;
        break;
      }
      case 3: {  // realSize from the current position, which it leaves where it was
        const std::uint32_t rest = gz.realSize();
        log.note(rest);
        if (ref.damaged && (!known || position <= ref.bytes.size())) EXPECT(rest == Damaged, rest, position);
        if (ref.clean && known) {
          const std::uint64_t have = ref.bytes.size();
          const std::uint64_t expected = plainFile ? have : position >= have ? 0 : have - position;
          EXPECT(rest == expected, rest, expected);
        }
        break;
      }
      default:  // close and open again
        gz.close();
        if (!gz.open(u"fuzz")) violated("reopen failed", 0, 0);
        log.note(-2);
        known = true;
        position = 0;
        break;
    }
  }
  gz.close();
  if (sawDamage) {
    if (!gz.open(u"fuzz")) violated("reopen failed", 0, 0);
    const std::uint32_t again = gz.realSize();
    EXPECT(again == Damaged, again, ref.bytes.size());
    expectRefusedAsWhole(gz, &slot);
    gz.close();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t fileSize = size;
  std::uint32_t piece = 0;
  const std::uint8_t* ops = nullptr;
  std::size_t opCount = 0;
  if (size >= 2 && data[size - 1] != 0) {
    opCount = std::min<std::size_t>(data[size - 1], (size - 2) / 7);
    piece = data[size - 2];
    fileSize = size - 2 - 7 * opCount;
    ops = data + fileSize;
  }
  Log withPoints, without;
  run(data, fileSize, piece, ops, opCount, true, withPoints);
  run(data, fileSize, piece, ops, opCount, false, without);
  const std::size_t n = std::min(withPoints.answers.size(), without.answers.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (withPoints.answers[i] != without.answers[i]) {
      std::fprintf(stderr, "fuzz_gzip: answer %zu is %#jx with access points, %#jx without\n", i,
                   static_cast<std::uintmax_t>(withPoints.answers[i]), static_cast<std::uintmax_t>(without.answers[i]));
      std::abort();
    }
  }
  EXPECT(withPoints.answers.size() == without.answers.size(), withPoints.answers.size(), without.answers.size());
  return 0;
}
