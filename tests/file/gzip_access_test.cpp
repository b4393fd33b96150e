// Access points of GzipFileManager: whatever the order of reads and seeks, a manager that goes
// on from access points must answer exactly as one that restarts every backward step from
// offset 0 (the same bytes, the same counts, -1 at the same reads, the same realSize), while
// inflating less. The heap refusing the index only costs the saving.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "file/gzip_file_manager.h"
#include "platform/handheld/heap_check.h"
#include "tests/file/file_test_support.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using file_test::Bytes;

constexpr std::uint32_t Damaged = 0xFFFFFFFFu;

class GzipAccessTest : public ::testing::Test {
 protected:
  std::unique_ptr<GzipFileManager> openOver(const Bytes& file, std::uint32_t piece, bool points, std::uint32_t span) {
    auto gz = std::make_unique<GzipFileManager>(&slot_, std::make_unique<file_test::MemorySource>(&slot_, file, piece));
    gz->setAccessPoints(points, span);
    EXPECT_TRUE(gz->open(u"corvid.gz"));
    return gz;
  }

  file_test::CaptureConsole console_;
  Console* slot_ = &console_;
  file_test::ScratchDir dir_;
};

// Content that deflate cuts into many blocks (kernel-like runs between runs of noise, so
// every block holds many literals): access points can only lie between blocks.
Bytes blocky(std::size_t size, std::uint32_t seed) {
  Bytes out = file_test::kernelLike(size, seed);
  std::mt19937 random(seed);
  for (std::size_t at = 1024; at < size; at += 4096) {
    for (std::size_t i = at; i < std::min(size, at + 3072); ++i) out[i] = static_cast<std::uint8_t>(random());
  }
  return out;
}

// One gzip member written by zlib with the smallest symbol buffer: a block every hundred or
// so symbols, thousands of blocks in a file.
Bytes smallBlocks(const Bytes& content) { return kestrel_testing::zlibGzip(content, {}, {6, 1}); }

// A random walk over a file: reads at offsets or where the last step left, seeks and realSize,
// mostly near the start, the end and anywhere in between.
struct Step {
  enum Kind { ReadAt, ReadOn, Seek, RealSize } kind;
  std::uint32_t length = 0, offset = 0;
  std::string text() const {
    switch (kind) {
      case ReadAt: return "read(" + std::to_string(length) + ", " + std::to_string(offset) + ")";
      case ReadOn: return "read(" + std::to_string(length) + ", here)";
      case Seek: return "seek(" + std::to_string(offset) + ")";
      default: return "realSize";
    }
  }
};

std::vector<Step> randomWalk(std::size_t size, std::uint32_t seed, int steps) {
  std::mt19937 random(seed);
  const auto top = static_cast<std::uint32_t>(size);
  auto anyOffset = [&]() -> std::uint32_t {
    switch (random() % 4) {
      case 0: return random() % (top + 100);
      case 1: return top - std::min<std::uint32_t>(top, random() % 300);
      case 2: return random() % 300;
      default: return random() % (top + 1);
    }
  };
  std::vector<Step> walk;
  for (int i = 0; i < steps; ++i) {
    const std::uint32_t kind = random() % 10;
    const std::uint32_t length = random() % 3 == 0 ? random() % 40000 : random() % 5000;
    if (kind < 5) walk.push_back({Step::ReadAt, length, anyOffset()});
    else if (kind < 7) walk.push_back({Step::ReadOn, length, 0});
    else if (kind < 9) walk.push_back({Step::Seek, 0, anyOffset()});
    else walk.push_back({Step::RealSize, 0, 0});
  }
  return walk;
}

struct Answer {
  std::int64_t result = 0;  // read count, seek result or realSize
  Bytes bytes;              // what a read delivered
  bool operator==(const Answer&) const = default;
};

// The walk on one open file, every answer kept.
std::vector<Answer> replay(FileManager& file, const std::vector<Step>& walk) {
  std::vector<Answer> answers;
  for (const Step& step : walk) {
    Answer a;
    if (step.kind == Step::ReadAt || step.kind == Step::ReadOn) {
      a.bytes.assign(step.length, 0xA5);
      const std::int32_t n = file.read(a.bytes.data(), step.length, step.kind == Step::ReadAt ? step.offset : FileManager::CurrentPosition);
      a.result = n;
      a.bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    } else if (step.kind == Step::Seek) {
      a.result = file.seek(step.offset);
    } else {
      a.result = file.realSize();
    }
    answers.push_back(std::move(a));
  }
  return answers;
}

// Both runs gave the same answers, and every read at an offset delivered the content there
// (`content` is the file's content, or what lies before its damage).
void expectSameAnswers(const std::vector<Step>& walk, const std::vector<Answer>& indexed, const std::vector<Answer>& plain,
                       const Bytes& content) {
  ASSERT_EQ(indexed.size(), walk.size());
  ASSERT_EQ(plain.size(), walk.size());
  for (std::size_t i = 0; i < walk.size(); ++i) {
    ASSERT_EQ(indexed[i], plain[i]) << "step " << i << ": " << walk[i].text() << " answered " << indexed[i].result
                                    << " with access points, " << plain[i].result << " without";
    const Step& s = walk[i];
    if (s.kind == Step::ReadAt && indexed[i].result > 0 && s.offset + indexed[i].bytes.size() <= content.size()) {
      ASSERT_TRUE(std::equal(indexed[i].bytes.begin(), indexed[i].bytes.end(), content.begin() + s.offset))
          << "step " << i << ": " << s.text();
    }
  }
}

TEST_F(GzipAccessTest, RandomAccessAnswersAsARestartFromZeroDoesAndInflatesLess) {
  const Bytes one = blocky(300000, 21);
  const Bytes two = blocky(130001, 22);
  const Bytes memberOne = file_test::compressWith("gzip -9 -n -c IN > OUT", one, dir_);
  const Bytes memberTwo = file_test::compressWith("gzip -1 -n -c IN > OUT", two, dir_);
  const Bytes tail = file_test::text("\x1f" "plain bytes after the member, then a long run of them\n");
  Bytes badCrc = memberOne;
  badCrc[badCrc.size() - 6] ^= 0x40;
  Bytes badLength = memberTwo;
  badLength[badLength.size() - 3] ^= 0x01;

  struct Case {
    const char* what;
    Bytes file;
    Bytes content;  // the bytes delivered before the end or the damage
    std::uint32_t span;
    bool thinned;   // the file needs more than 16 points at this span
  };
  const Case cases[] = {
      {"one member", memberOne, one, 16384, false},
      {"two members", file_test::concat(memberOne, memberTwo), file_test::concat(one, two), 16384, false},
      {"member and plain data", file_test::concat(memberTwo, tail), file_test::concat(two, tail), 4096, false},
      {"wrong CRC in the first member's trailer", file_test::concat(badCrc, memberTwo), one, 16384, false},
      // A point due at every boundary, the end of the last block included.
      {"wrong CRC, spans of one byte", file_test::concat(badCrc, memberTwo), one, 1, false},
      {"wrong length in the second member's trailer", file_test::concat(memberOne, badLength), file_test::concat(one, two),
       16384, false},
      {"deflate data cut short", Bytes(memberOne.begin(), memberOne.begin() + memberOne.size() * 2 / 3), one, 8192, false},
      {"far more than 16 spans", file_test::concat(smallBlocks(one), memberTwo), file_test::concat(one, two), 1024, true},
  };
  for (const Case& c : cases) {
    for (std::uint32_t piece : {0u, 13u}) {
      SCOPED_TRACE(std::string(c.what) + ", source pieces of " + std::to_string(piece));
      // Nothing read at the very end (where a damaged trailer must already show); the file
      // once through, as realSize does at a boot; from the start past the end and back into
      // the middle; then a random walk.
      const auto size = static_cast<std::uint32_t>(c.content.size());
      std::vector<Step> walk{{Step::ReadAt, 0, size},   {Step::RealSize},          {Step::ReadAt, 10, 0},       {Step::Seek, 0, size + 50},
                             {Step::ReadOn, 10, 0},     {Step::ReadAt, 10, size / 2}, {Step::Seek, 0, size - 3},
                             {Step::ReadAt, 100, 5},    {Step::ReadOn, 100000, 0}};
      const std::vector<Step> more = randomWalk(c.content.size(), piece + 77, 150);
      walk.insert(walk.end(), more.begin(), more.end());
      // One file open at a time: the stream is the process's. The walk runs with the access
      // points, then again on a fresh open without them.
      auto indexed = openOver(c.file, piece, true, c.span);
      const std::vector<Answer> withPoints = replay(*indexed, walk);
      const AccessIndex& index = indexed->accessIndex();
      EXPECT_GT(index.count(), c.thinned ? AccessIndex::MaxPoints / 2 : 2u);
      EXPECT_LE(index.count(), AccessIndex::MaxPoints);
      if (c.thinned) {
        EXPECT_GE(index.span(), 2 * c.span);
      }
      // Thinned or not, the i-th point lies at least i spans in.
      for (std::uint32_t i = 0; i < index.count(); ++i) EXPECT_GE(index.point(i).out, (i + 1) * std::uint64_t{index.span()});
      indexed->close();
      auto plain = openOver(c.file, piece, false, c.span);
      const std::vector<Answer> without = replay(*plain, walk);
      EXPECT_EQ(plain->accessIndex().count(), 0u);
      plain->close();
      expectSameAnswers(walk, withPoints, without, c.content);
      EXPECT_LT(indexed->bytesInflated(), plain->bytesInflated() / 2);
    }
  }
  EXPECT_EQ(console_.text, u"");
}

TEST_F(GzipAccessTest, AMemberResumedFromAPointStillHasItsTrailerChecked) {
  const Bytes content = blocky(200000, 23);
  Bytes file = file_test::compressWith("gzip -6 -n -c IN > OUT", content, dir_);
  file[file.size() - 8] ^= 0x01;  // the CRC
  auto gz = openOver(file, 0, true, 8192);
  EXPECT_EQ(gz->realSize(), Damaged);  // the whole file once: the points are made
  ASSERT_GT(gz->accessIndex().count(), 2u);
  const std::uint32_t last = gz->accessIndex().point(gz->accessIndex().count() - 1).out;
  const std::uint64_t before = gz->bytesInflated();
  Bytes buffer(content.size());
  // Back to the last point and on through the trailer: the bytes, then the damage.
  const std::int32_t n = gz->read(buffer.data(), static_cast<std::uint32_t>(content.size()), last + 10);
  EXPECT_EQ(n, static_cast<std::int32_t>(content.size() - last - 10));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, content.begin() + last + 10));
  EXPECT_EQ(gz->read(buffer.data(), 1, FileManager::CurrentPosition), -1);
  EXPECT_LE(gz->bytesInflated() - before, content.size() - last);  // from the point, not from 0
  // Mended, the same walk ends cleanly: the CRC carried from the point matches.
  file[file.size() - 8] ^= 0x01;
  gz = openOver(file, 0, true, 8192);
  EXPECT_EQ(gz->realSize(), content.size());
  const std::uint32_t middle = gz->accessIndex().point(gz->accessIndex().count() / 2).out;
  EXPECT_EQ(gz->read(buffer.data(), static_cast<std::uint32_t>(content.size()), middle),
            static_cast<std::int32_t>(content.size() - middle));
  EXPECT_EQ(gz->read(buffer.data(), 1, FileManager::CurrentPosition), 0);
}

class GzipAccessHeapTest : public GzipAccessTest {
 protected:
  kestrel_testing::TempHandheld handheld_;
};

TEST_F(GzipAccessHeapTest, AHeapThatRefusesTheIndexLeavesTheRestartFromZero) {
  const Bytes content = blocky(250000, 24);
  const Bytes tail = file_test::text("plain data after the member\n");
  const Bytes file = file_test::concat(file_test::compressWith("gzip -9 -n -c IN > OUT", content, dir_), tail);
  const Bytes whole = file_test::concat(content, tail);
  std::vector<Step> walk{{Step::RealSize}};
  const std::vector<Step> more = randomWalk(whole.size(), 5, 60);
  walk.insert(walk.end(), more.begin(), more.end());
  auto plain = openOver(file, 0, false, 16384);
  const std::vector<Answer> without = replay(*plain, walk);
  plain->close();
  ASSERT_EQ(without[0].result, whole.size());
  const std::size_t blocksBefore = handheld::heapBlocksInUse();
  // The first window refused, and a later one: either way the index is gone for this file.
  for (long failAt : {1L, 3L}) {
    SCOPED_TRACE("the heap fails at allocation " + std::to_string(failAt));
    auto indexed = openOver(file, 0, true, 16384);
    handheld_.faults().heapFailAt = failAt;
    const std::vector<Answer> withPoints = replay(*indexed, walk);
    EXPECT_EQ(handheld_.faults().heapFailAt, 0);  // the failure did happen
    EXPECT_EQ(indexed->accessIndex().count(), 0u);
    expectSameAnswers(walk, withPoints, without, whole);
    EXPECT_EQ(indexed->bytesInflated(), plain->bytesInflated());
    indexed->close();
    EXPECT_EQ(handheld::heapBlocksInUse(), blocksBefore);
    // The next file asks the heap again.
    ASSERT_TRUE(indexed->open(u"corvid.gz"));
    EXPECT_EQ(indexed->realSize(), whole.size());
    EXPECT_GT(indexed->accessIndex().count(), 0u);
  }
  EXPECT_EQ(console_.text, u"");  // no message
}

}  // namespace
}  // namespace kestrel
