// GzipFileManager over an in-memory source: members made by gzip, pigz and zlib, plain files,
// plain bytes after a member, and damage at every place a gzip file can be damaged. Each input
// is also read with a source that hands out one byte per read, which puts every buffer refill
// in the middle of a header, a trailer or the two bytes that tell a member from plain data.
#include "file/gzip_file_manager.h"
#include "file/sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "tests/file/file_test_support.h"

namespace kestrel {
namespace {

using file_test::Bytes;
using file_test::CaptureConsole;
using file_test::MemorySource;

constexpr std::uint32_t Damaged = 0xFFFFFFFFu;

struct Drained {
  Bytes bytes;
  std::int32_t last = 0;  // the result that ended the reading: 0 (end) or -1 (damage)
};

// Reads at rising explicit offsets, as the loaders do, until a read returns 0 or -1.
Drained drain(FileManager& file, std::uint32_t piece, std::uint32_t from = 0) {
  Drained d;
  Bytes buffer(piece);
  for (std::uint32_t offset = from;;) {
    const std::int32_t n = file.read(buffer.data(), piece, offset);
    EXPECT_LE(n, static_cast<std::int32_t>(piece));
    if (n <= 0) {
      d.last = n;
      return d;
    }
    d.bytes.insert(d.bytes.end(), buffer.begin(), buffer.begin() + n);
    offset += static_cast<std::uint32_t>(n);
  }
}

Bytes readAt(FileManager& file, std::uint32_t length, std::uint32_t offset) {
  Bytes buffer(length);
  const std::int32_t n = file.read(buffer.data(), length, offset);
  buffer.resize(n > 0 ? n : 0);
  return buffer;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t length) {
  from = std::min(from, bytes.size());
  return Bytes(bytes.begin() + from, bytes.begin() + std::min(bytes.size(), from + length));
}

bool isPrefix(const Bytes& prefix, const Bytes& of) {
  return prefix.size() <= of.size() && std::equal(prefix.begin(), prefix.end(), of.begin());
}

class GzipTest : public ::testing::Test {
 protected:
  // A manager with `file` open; `piece` limits what each source read hands out (0: no limit).
  std::unique_ptr<GzipFileManager> openOver(const Bytes& file, std::uint32_t piece) {
    auto gz = std::make_unique<GzipFileManager>(&slot_, std::make_unique<MemorySource>(&slot_, file, piece));
    EXPECT_TRUE(gz->open(u"corvid.gz"));
    return gz;
  }

  // Everything a boot relies on, for a file whose content is `content`.
  void expectReadsAs(const Bytes& file, const Bytes& content, std::uint32_t piece) {
    SCOPED_TRACE("source pieces of " + std::to_string(piece));
    auto gz = openOver(file, piece);
    const auto size = static_cast<std::uint32_t>(content.size());
    EXPECT_EQ(gz->realSize(), size);
    EXPECT_EQ(readAt(*gz, 52, 0), slice(content, 0, 52));  // right after realSize
    const Drained all = drain(*gz, 7001);
    EXPECT_EQ(all.last, 0);
    EXPECT_TRUE(all.bytes == content) << all.bytes.size() << " bytes of " << content.size();
    // Backwards after the end: a restart from the beginning.
    EXPECT_EQ(readAt(*gz, 52, 0), slice(content, 0, 52));
    EXPECT_EQ(readAt(*gz, 100, size / 2), slice(content, size / 2, 100));
    EXPECT_EQ(readAt(*gz, 100, size >= 50 ? size - 50 : 0), slice(content, size >= 50 ? size - 50 : 0, 100));
    EXPECT_EQ(readAt(*gz, 100, size), Bytes());
    gz->close();
  }

  CaptureConsole console_;
  Console* slot_ = &console_;
  file_test::ScratchDir dir_;
};

TEST_F(GzipTest, MembersWrittenByTheToolsDecompressToTheirContent) {
  const Bytes content = file_test::kernelLike(150000);
  struct Case {
    const char* what;
    Bytes file;
    int flags;  // the header flags the tool must have written, or the case proves nothing
  };
  const Case cases[] = {
      {"gzip -n", file_test::compressWith("gzip -n -c IN > OUT", content, dir_), 0x00},
      {"gzip -9 with file name", file_test::compressWith("gzip -9 -c IN > OUT", content, dir_), 0x08},
      {"pigz name and comment", file_test::compressWith("pigz -N -C 'corvid kernel' -c IN > OUT", content, dir_), 0x18},
      {"zlib extra field and header CRC", file_test::zlibGzip(content, {"KE\x04\x01" "boot", "", "", true}), 0x06},
      {"zlib every field", file_test::zlibGzip(content, {"xy\x02\x01" "ab", "corvid", "built today", true}), 0x1E},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GT(c.file.size(), 10u);
    EXPECT_EQ(c.file[3], c.flags);
    for (std::uint32_t piece : {0u, 1u}) expectReadsAs(c.file, content, piece);
  }
}

TEST_F(GzipTest, HeaderFieldsAreSkippedUncheckedAndDoNotChangeTheContent) {
  const Bytes content = file_test::kernelLike(5000, 7);
  // A wrong header CRC is skipped, not verified.
  Bytes wrongHeaderCrc = file_test::zlibGzip(content, {"", "corvid", "", true});
  const std::size_t crcAt = 10 + std::string("corvid").size() + 1;
  wrongHeaderCrc[crcAt] ^= 0xFF;
  wrongHeaderCrc[crcAt + 1] ^= 0x55;
  for (std::uint32_t piece : {0u, 1u}) expectReadsAs(wrongHeaderCrc, content, piece);
}

TEST_F(GzipTest, ConcatenatedMembersReadAsOneFileAtWholeFileOffsets) {
  const Bytes first = file_test::kernelLike(70000, 2), second = file_test::kernelLike(30001, 3);
  const Bytes a = file_test::compressWith("gzip -n -c IN > OUT", first, dir_);
  const Bytes b = file_test::compressWith("gzip -n -c IN > OUT", second, dir_);
  file_test::writeBytes(dir_ / "a.gz", a);
  file_test::writeBytes(dir_ / "b.gz", b);
  ASSERT_EQ(file_test::run("cat " + file_test::quoted(dir_ / "a.gz") + " " + file_test::quoted(dir_ / "b.gz") + " > " +
                           file_test::quoted(dir_ / "ab.gz")),
            0);
  const Bytes both = file_test::readBytes(dir_ / "ab.gz");
  ASSERT_EQ(both, file_test::concat(a, b));
  const Bytes content = file_test::concat(first, second);
  for (std::uint32_t piece : {0u, 1u}) {
    expectReadsAs(both, content, piece);
    // One read across the boundary, and one inside the second member after a restart.
    auto gz = openOver(both, piece);
    EXPECT_EQ(readAt(*gz, 1000, 69500), slice(content, 69500, 1000));
    EXPECT_EQ(readAt(*gz, 10, 70000), slice(content, 70000, 10));
    EXPECT_EQ(readAt(*gz, 10, 69000), slice(content, 69000, 10));
    EXPECT_EQ(gz->realSize(), content.size() - 69010);  // from the current position on
    gz->close();
  }
}

TEST_F(GzipTest, PlainFilesAreDeliveredByteForByte) {
  Bytes magicThenOther = file_test::kernelLike(3000, 4);
  magicThenOther[0] = 0x1F;
  magicThenOther[1] = 0x00;
  Bytes longText;
  for (int i = 0; i < 200; ++i) {
    const Bytes line = file_test::text("console=ttyS0 root=/dev/wd0a " + std::to_string(i) + "\n");
    longText.insert(longText.end(), line.begin(), line.end());
  }
  const std::pair<const char*, Bytes> cases[] = {
      {"text", longText},
      {"0x1F then another byte", magicThenOther},
      {"0x1F 0x8A", Bytes{0x1F, 0x8A, 'x'}},
      {"the single byte 0x1F", Bytes{0x1F}},
      {"one other byte", Bytes{'A'}},
      {"empty", Bytes()},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    for (std::uint32_t piece : {0u, 1u}) expectReadsAs(bytes, bytes, piece);
    auto gz = openOver(bytes, 0);
    EXPECT_EQ(gz->compressed(), 0);
    gz->close();
  }
}

TEST_F(GzipTest, PlainBytesAfterAMemberFollowItsContent) {
  const Bytes content = file_test::kernelLike(20000, 5);
  const Bytes member = file_test::compressWith("gzip -n -c IN > OUT", content, dir_);
  Bytes magicThenText = file_test::text("\x1f" "Bsymbols follow");
  const std::pair<const char*, Bytes> tails[] = {
      {"text", file_test::text("kestrel.cnf follows\n")},
      {"0x1F then other bytes", magicThenText},
      {"the single byte 0x1F", Bytes{0x1F}},
      {"zero padding", Bytes(512, 0)},
  };
  for (const auto& [what, tail] : tails) {
    SCOPED_TRACE(what);
    const Bytes whole = file_test::concat(content, tail);
    for (std::uint32_t piece : {0u, 1u}) {
      expectReadsAs(file_test::concat(member, tail), whole, piece);
      auto gz = openOver(file_test::concat(member, tail), piece);
      EXPECT_EQ(readAt(*gz, 3, 20000), slice(whole, 20000, 3));  // a forward seek into the tail
      EXPECT_EQ(readAt(*gz, 5, 19998), slice(whole, 19998, 5));  // back into the member
      gz->close();
    }
  }
}

TEST_F(GzipTest, DamageEndsReadingWithMinusOneAndRealSizeSaysSo) {
  // A whole number of the 4096-byte reads below: damage behind the content is met by a read
  // that produces nothing, which must not look like the end.
  const Bytes content = file_test::kernelLike(8 * 4096, 6);
  const Bytes good = file_test::compressWith("gzip -n -c IN > OUT", content, dir_);
  const kestrel_testing::GzipHeaderFields fields{"ex\x01z", "corvid", "note", true};
  const Bytes full = file_test::zlibGzip(content, fields);
  const std::size_t fullHeader = 10 + 2 + fields.extra.size() + fields.name.size() + 1 + fields.comment.size() + 1 + 2;

  const std::vector<kestrel_testing::GzipDamage> cases = kestrel_testing::gzipDamages(content, good, full, fullHeader);
  for (const kestrel_testing::GzipDamage& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::uint32_t piece : {0u, 1u}) {
      SCOPED_TRACE("source pieces of " + std::to_string(piece));
      auto gz = openOver(c.file, piece);
      const Drained d = drain(*gz, 4096);
      EXPECT_EQ(d.last, -1) << "damage read as the end after " << d.bytes.size() << " bytes";
      EXPECT_TRUE(isPrefix(d.bytes, content));
      if (c.allContent) {
        EXPECT_EQ(d.bytes.size(), content.size());
      }
      Bytes one(1);
      EXPECT_EQ(gz->read(one.data(), 1, FileManager::CurrentPosition), -1);  // and so on
      EXPECT_EQ(gz->read(one.data(), 1, FileManager::CurrentPosition), -1);
      EXPECT_EQ(gz->realSize(), Damaged);
      gz->close();
      gz = openOver(c.file, piece);
      EXPECT_EQ(gz->realSize(), Damaged);  // right after open, as the boot asks
      EXPECT_TRUE(isPrefix(readAt(*gz, 52, 0), content));
      gz->close();
    }
  }
}

TEST_F(GzipTest, ContentAlteredUnderItsOldCrcIsDamage) {
  // Stored blocks: inflate passes any byte, so only the trailer's CRC can tell.
  const Bytes content = file_test::kernelLike(3 * 65536, 8);
  for (std::uint32_t piece : {0u, 1u}) expectReadsAs(kestrel_testing::storedGzip(content), content, piece);
  for (std::size_t at : {std::size_t{0}, std::size_t{70000}, content.size() - 1}) {
    SCOPED_TRACE("byte " + std::to_string(at));
    auto gz = openOver(kestrel_testing::alteredUnderItsCrc(content, at), 0);
    EXPECT_EQ(gz->realSize(), Damaged);
    EXPECT_EQ(drain(*gz, 4096).last, -1);
    gz->close();
  }
}

TEST_F(GzipTest, TheReadThatMeetsTheDamageReturnsWhatItProduced) {
  const Bytes content = file_test::kernelLike(10000, 8);
  const Bytes good = file_test::compressWith("gzip -n -c IN > OUT", content, dir_);
  Bytes wrongCrc = good;
  wrongCrc[good.size() - 5] ^= 0x10;
  const Bytes cut = slice(good, 0, good.size() - 3);    // inside the length word
  const Bytes shortData = slice(good, 0, good.size() / 2);
  for (const Bytes* file : {&std::as_const(wrongCrc), &cut, &shortData}) {
    auto gz = openOver(*file, 0);
    Bytes buffer(20000);
    const std::int32_t got = gz->read(buffer.data(), 20000, 0);
    ASSERT_GT(got, 0);
    buffer.resize(got);
    EXPECT_TRUE(isPrefix(buffer, content));
    if (file != &shortData) {
      EXPECT_EQ(got, 10000);
    }
    EXPECT_EQ(gz->read(buffer.data(), 10, FileManager::CurrentPosition), -1);
    // A restart forgets the damage until it is met again.
    EXPECT_EQ(readAt(*gz, 52, 0), slice(content, 0, 52));
    gz->close();
  }
}

TEST_F(GzipTest, SeekingPastTheEndFailsAndAReadThereReturnsZero) {
  const Bytes content = file_test::kernelLike(9000, 9);
  const Bytes good = file_test::compressWith("gzip -n -c IN > OUT", content, dir_);
  auto gz = openOver(good, 0);
  EXPECT_TRUE(gz->seek(9000));
  EXPECT_FALSE(gz->seek(9001));
  Bytes buffer(10);
  EXPECT_EQ(gz->read(buffer.data(), 10, 20000), 0);
  EXPECT_TRUE(gz->seek(8990));
  EXPECT_EQ(gz->read(buffer.data(), 10, FileManager::CurrentPosition), 10);
  EXPECT_EQ(buffer, slice(content, 8990, 10));
  gz->close();
}

TEST_F(GzipTest, OnlyTheManagerThatOpenedLastReadsThroughTheStream) {
  const Bytes content = file_test::kernelLike(5000, 10);
  const Bytes good = file_test::compressWith("gzip -n -c IN > OUT", content, dir_);
  auto first = openOver(good, 0);
  EXPECT_EQ(readAt(*first, 52, 0), slice(content, 0, 52));
  auto second = openOver(good, 0);
  Bytes buffer(52);
  EXPECT_EQ(first->read(buffer.data(), 52, 52), -1);
  EXPECT_EQ(readAt(*second, 52, 52), slice(content, 52, 52));
  second->close();
}

TEST(SourceType, IsChosenFromTheDirectoryText) {
  const std::pair<const char16_t*, SourceType> cases[] = {
      {u"\\Storage Card\\", SourceType::Fat},    {u"", SourceType::Fat},
      {u"/", SourceType::Ufs},                     {u"2:/", SourceType::Ufs},
      {u"http://10.0.0.1/corvid/", SourceType::Http}, {u"boot from http://x", SourceType::Http},
      {u"http:\\\\x", SourceType::Fat},
  };
  for (const auto& [directory, type] : cases) EXPECT_EQ(sourceTypeFor(directory), type);
}

}  // namespace
}  // namespace kestrel
