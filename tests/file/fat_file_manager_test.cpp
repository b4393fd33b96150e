// FatFileManager and the gzip layer over it on a simulated handheld, the source choice by type
// code, and toAscii in the handheld's code page.
#include "file/fat_file_manager.h"

#include <gtest/gtest.h>

#include <string>

#include "file/gzip_file_manager.h"
#include "file/sources.h"
#include "tests/file/file_test_support.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using file_test::Bytes;

class FatTest : public ::testing::Test {
 protected:
  explicit FatTest(std::string platform = "Compaq iPAQ H3600") : handheld_(std::move(platform)) {}

  Bytes readAt(FileManager& file, std::uint32_t length, std::uint32_t offset) {
    Bytes buffer(length);
    const std::int32_t n = file.read(buffer.data(), length, offset);
    buffer.resize(n > 0 ? n : 0);
    return buffer;
  }

  kestrel_testing::TempHandheld handheld_;
  file_test::CaptureConsole console_;
  Console* slot_ = &console_;
};

TEST_F(FatTest, OpensRootPlusNameAndReadsAtOffsets) {
  const Bytes forty = file_test::kernelLike(40, 3);
  handheld_.writeFile(u"\\Storage Card\\corvid.gz", forty);
  FatFileManager fat(&slot_);
  EXPECT_TRUE(fat.setRoot(u"\\Storage Card\\"));
  ASSERT_TRUE(fat.open(u"corvid.gz"));
  EXPECT_EQ(console_.text, u"FileManager: FAT\nopen file \"\\Storage Card\\corvid.gz\"(40 byte).\n");
  EXPECT_EQ(fat.size(), 40u);
  EXPECT_EQ(fat.realSize(), 40u);
  EXPECT_EQ(readAt(fat, 100, 0), forty);
  EXPECT_EQ(readAt(fat, 100, FileManager::CurrentPosition), Bytes());
  EXPECT_TRUE(fat.seek(10));
  EXPECT_EQ(readAt(fat, 5, FileManager::CurrentPosition), Bytes(forty.begin() + 10, forty.begin() + 15));
  EXPECT_EQ(readAt(fat, 5, 38), Bytes(forty.begin() + 38, forty.end()));
  EXPECT_TRUE(fat.seek(1000));  // beyond the end: fine, and nothing there
  EXPECT_EQ(readAt(fat, 5, FileManager::CurrentPosition), Bytes());
  EXPECT_EQ(fat.write(forty.data(), 4, 0), 0);  // open for reading only
  fat.close();
  EXPECT_EQ(handheld_.readFile(u"\\Storage Card\\corvid.gz"), std::string(forty.begin(), forty.end()));
}

TEST_F(FatTest, AnEmptyFileOpensAndReadsNothing) {
  handheld_.writeFile(u"\\Storage Card\\empty", "");
  FatFileManager fat(&slot_);
  fat.setRoot(u"\\Storage Card\\");
  ASSERT_TRUE(fat.open(u"empty"));
  EXPECT_EQ(fat.size(), 0u);
  EXPECT_EQ(readAt(fat, 10, 0), Bytes());
  EXPECT_EQ(readAt(fat, 10, FileManager::CurrentPosition), Bytes());
  fat.close();
}

TEST_F(FatTest, AFailedOpenNamesThePathAndThePlatformCause) {
  handheld_.writeFile(u"\\Storage Card\\corvid.gz", "x");
  struct Case {
    const char16_t* root;
    const char16_t* name;
    const char16_t* line;
  };
  const Case cases[] = {
      // No separator is added: the name runs into the directory's own name.
      {u"\\Storage Card", u"corvid.gz", u"can't open \"\\Storage Cardcorvid.gz\". cause = 2\n"},
      {u"\\Storage Card\\", u"kernel.gz", u"can't open \"\\Storage Card\\kernel.gz\". cause = 2\n"},
      {u"\\No Card\\", u"corvid.gz", u"can't open \"\\No Card\\corvid.gz\". cause = 3\n"},
  };
  for (const Case& c : cases) {
    console_.text.clear();
    FatFileManager fat(&slot_);
    EXPECT_TRUE(fat.setRoot(c.root));
    EXPECT_FALSE(fat.open(c.name));
    EXPECT_EQ(console_.text, std::u16string(u"FileManager: FAT\n") + c.line);
  }
}

TEST_F(FatTest, ASecondOpenOfAFileStillOpenIsRefused) {
  handheld_.writeFile(u"\\Storage Card\\corvid.gz", "kernel");
  GzipFileManager first(&slot_, makeSource(&slot_, SourceType::Fat)), second(&slot_, makeSource(&slot_, SourceType::Fat));
  first.setRoot(u"\\Storage Card\\");
  second.setRoot(u"\\Storage Card\\");
  ASSERT_TRUE(first.open(u"corvid.gz"));
  console_.text.clear();
  EXPECT_FALSE(second.open(u"corvid.gz"));
  EXPECT_EQ(console_.text, u"can't open \"\\Storage Card\\corvid.gz\". cause = 32\n");
  EXPECT_EQ(readAt(first, 10, 0), file_test::text("kernel"));  // the first reader is undisturbed
  first.close();
  EXPECT_TRUE(second.open(u"corvid.gz"));
  second.close();
}

TEST_F(FatTest, RootsAndPathsThatDoNotFitAreRefusedNotCut) {
  const std::u16string root259 = u"\\" + std::u16string(257, u'd') + u"\\";
  FatFileManager fat(&slot_);
  EXPECT_TRUE(fat.setRoot(root259.c_str()));
  EXPECT_FALSE(fat.setRoot((root259 + u"x").c_str()));
  EXPECT_NE(console_.text.find(u"directory too long. 260 > 259\n"), std::u16string::npos);

  const std::u16string root250 = u"\\" + std::u16string(248, u'd') + u"\\";
  ASSERT_TRUE(fat.setRoot(root250.c_str()));
  console_.text.clear();
  EXPECT_FALSE(fat.open(u"corvid.gz"));  // 259 units: tried, and not there
  EXPECT_EQ(console_.text.rfind(u"can't open \"", 0), 0u);
  console_.text.clear();
  EXPECT_FALSE(fat.open(u"corvid.gz1"));
  EXPECT_EQ(console_.text, u"path too long. 260 > 259\n");
}

TEST_F(FatTest, TheTypeCodeChoosesTheSource) {
  const Bytes content = file_test::kernelLike(50000, 11);
  file_test::ScratchDir dir;
  handheld_.writeFile(u"\\Storage Card\\corvid.gz", file_test::compressWith("gzip -n -c IN > OUT", content, dir));
  {
    GzipFileManager gz(&slot_, makeSource(&slot_, SourceType::Fat));
    EXPECT_EQ(console_.text, u"FileManager: FAT\n");
    ASSERT_TRUE(gz.setRoot(u"\\Storage Card\\"));
    ASSERT_TRUE(gz.open(u"corvid.gz"));
    EXPECT_EQ(gz.realSize(), content.size());
    EXPECT_LT(gz.size(), content.size());  // the stored, compressed size
    EXPECT_EQ(readAt(gz, 60000, 0), content);
    gz.close();
  }
  // The HTTP source is made for its code (its own tests are HttpFileManagerTests).
  {
    console_.text.clear();
    GzipFileManager http(&slot_, makeSource(&slot_, SourceType::Http));
    EXPECT_EQ(console_.text, u"FileManager: HTTP\n");
  }
  const std::pair<SourceType, const char16_t*> others[] = {
      // The UFS source; this handheld has no disk behind DSK1:.
      {SourceType::Ufs, u"FileManager: UFS\nopen file \"corvid.gz\" failed.\n"},
  };
  for (const auto& [type, line] : others) {
    console_.text.clear();
    GzipFileManager gz(&slot_, makeSource(&slot_, type));
    EXPECT_FALSE(gz.setRoot(u"http://127.0.0.1/"));
    EXPECT_FALSE(gz.open(u"corvid.gz"));
    EXPECT_EQ(console_.text, line);
  }
  console_.text.clear();
  handheld_.faults().heapFailAt = 1;
  GzipFileManager noSource(&slot_, makeSource(&slot_, SourceType::Fat));
  EXPECT_EQ(console_.text, u"can't allocate file manager.\n");
  EXPECT_FALSE(noSource.setRoot(u"\\Storage Card\\"));
  EXPECT_FALSE(noSource.open(u"corvid.gz"));
}

struct AsciiCase {
  std::u16string name;
  std::string bytes;  // what a conversion writes; empty when it must fail
  std::u16string line;
};

void expectConversions(Console& console, std::u16string& printed, const std::vector<AsciiCase>& cases) {
  for (const AsciiCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.name.size()) + " characters");
    printed.clear();
    char buffer[260];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(toAscii(console, buffer, c.name.c_str(), sizeof buffer), !c.bytes.empty());
    EXPECT_EQ(printed, c.line);
    if (!c.bytes.empty()) {
      EXPECT_EQ(std::string(buffer, c.bytes.size() + 1), c.bytes + '\0');
    }
  }
}

TEST_F(FatTest, ToAsciiNeedsRoomForTheTerminatorAndAtLeastOneCharacter) {
  expectConversions(console_, console_.text,
                    {
                        {u"", "", u"can't convert to ASCII.\n"},
                        {u"corvid.gz", "corvid.gz", u""},
                        {std::u16string(259, u'k'), std::string(259, 'k'), u""},
                        {std::u16string(260, u'k'), "", u"buffer insufficeint. 261 > 260\n"},
                        {u"caf\u00E9", "caf\xE9", u""},  // one byte in code page 1252
                    });
}

class JapaneseTest : public FatTest {
 protected:
  JapaneseTest() : FatTest("HP Jornada 720 (Japanese)") {}
};

TEST_F(JapaneseTest, ToAsciiRefusesCharactersOfTwoBytes) {
  ASSERT_EQ(handheld_.machine().config().profile.codePage, 932u);
  expectConversions(console_, console_.text,
                    {
                        // HIRAGANA LETTER A: two bytes in code page 932.
                        {u"kernel\u3042.gz", "", u"can't convert to ASCII.\n"},
                        // 258 characters and one of two bytes need 261: the size check comes first.
                        {std::u16string(258, u'k') + u"\u3042", "", u"buffer insufficeint. 261 > 260\n"},
                        // HALFWIDTH KATAKANA LETTERS A and I: one byte each.
                        {u"\uFF71\uFF72", "\xB1\xB2", u""},
                        {u"corvid.gz", "corvid.gz", u""},
                    });
}

}  // namespace
}  // namespace kestrel
