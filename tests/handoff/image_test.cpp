// The hand-off image file: what is written is read back, and broken files are refused.
#include "handoff/image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace kestrel::handoff {
namespace {

HandoffImage sample() {
  HandoffImage image;
  image.family = handheld::Family::PXA2x0;
  image.profile = "Sharp W-ZERO3 (WS003SH)";  // 23 + 6 bytes of names: padded to 32
  image.processor = "PXA270";
  image.r[0] = 0xA1FFD000u;
  image.r[1] = 0xA1000000u;
  image.r[2] = 0xA1FFD000u;
  image.r[3] = 0xA1FFF000u;
  image.memory.write32(0xA1000000u, 0x01020304u);
  image.memory.write32(0xA1FFFFFCu, 0xCAFEF00Du);
  return image;
}

TEST(HandoffImage, WhatIsEncodedDecodesToTheSameMachine) {
  HandoffImage image = sample();
  std::vector<std::uint8_t> bytes = encodeImage(image);
  // Header, names padded to 32 bytes, two frames.
  EXPECT_EQ(bytes.size(), 40u + 32u + 2 * (4u + 4096u));
  EXPECT_EQ(ce::getLe32(bytes.data()), 0x464F484Bu);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "KHOF");
  EXPECT_EQ(ce::getLe32(&bytes[72]), 0xA1000000u);  // first frame's address

  HandoffImage back;
  std::string error;
  ASSERT_TRUE(decodeImage(bytes.data(), bytes.size(), back, error)) << error;
  EXPECT_EQ(back.family, handheld::Family::PXA2x0);
  EXPECT_EQ(back.profile, image.profile);
  EXPECT_EQ(back.processor, "PXA270");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.r[i], image.r[i]);
  EXPECT_FALSE(PhysicalMemory::firstDifference(back.memory, image.memory));
}

TEST(HandoffImage, FileRoundTripAndMissingFile) {
  std::filesystem::path file = std::filesystem::temp_directory_path() / "kestrel-handoff-image-test.img";
  std::string error;
  ASSERT_TRUE(writeImage(file, sample(), error)) << error;
  HandoffImage back;
  ASSERT_TRUE(readImage(file, back, error)) << error;
  std::uint32_t word = 0;
  EXPECT_TRUE(back.memory.read32(0xA1FFFFFCu, word));
  EXPECT_EQ(word, 0xCAFEF00Du);
  std::filesystem::remove(file);
  EXPECT_FALSE(readImage(file, back, error));
  EXPECT_EQ(error, "can't open " + file.string());
}

TEST(HandoffImage, OnlyARegularFileOfTheSizeItsHeaderGivesIsRead) {
  // Nothing is allocated for a file before its size is known to be right: a directory, or a
  // sparse file of many GiB behind a good header, is refused with one line.
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrel-handoff-not-a-file";
  std::filesystem::create_directories(dir);
  HandoffImage back;
  std::string error;
  EXPECT_FALSE(readImage(dir, back, error));
  EXPECT_EQ(error, dir.string() + ": not a regular file");
  std::filesystem::remove(dir);

  const std::filesystem::path file = std::filesystem::temp_directory_path() / "kestrel-handoff-huge.img";
  ASSERT_TRUE(writeImage(file, sample(), error)) << error;
  std::filesystem::resize_file(file, 64ull << 30);
  EXPECT_FALSE(readImage(file, back, error));
  EXPECT_EQ(error, file.string() + ": hand-off image has 68719476736 bytes, expected 8272");
  std::filesystem::resize_file(file, 100);
  EXPECT_FALSE(readImage(file, back, error));
  EXPECT_EQ(error, file.string() + ": truncated hand-off image (100 of 8272 bytes)");
  std::filesystem::remove(file);
}

struct Broken {
  const char* name;
  std::function<void(std::vector<std::uint8_t>&)> damage;
  const char* error;
};

void PrintTo(const Broken& b, std::ostream* os) { *os << b.name; }

class HandoffImageRefuses : public ::testing::TestWithParam<Broken> {};

TEST_P(HandoffImageRefuses, BrokenFiles) {
  std::vector<std::uint8_t> bytes = encodeImage(sample());
  GetParam().damage(bytes);
  HandoffImage image;
  std::string error;
  EXPECT_FALSE(decodeImage(bytes.data(), bytes.size(), image, error));
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HandoffImageRefuses,
    ::testing::Values(
        Broken{"Empty", [](auto& b) { b.clear(); }, "not a hand-off image"},
        Broken{"OtherMagic", [](auto& b) { b[0] = 'X'; }, "not a hand-off image"},
        Broken{"NewerVersion", [](auto& b) { ce::putLe32(&b[4], 2); }, "hand-off image version 2 is not supported"},
        Broken{"UnknownFamily", [](auto& b) { ce::putLe32(&b[8], 2); }, "unknown processor family 2"},
        Broken{"LongProfileName", [](auto& b) { ce::putLe32(&b[28], 256); }, "bad hand-off image header"},
        Broken{"PaddingNotZero", [](auto& b) { b[71] = '!'; }, "bad hand-off image header"},
        Broken{"TooManyFrames", [](auto& b) { ce::putLe32(&b[36], (1u << 20) + 1); }, "bad hand-off image header"},
        Broken{"OneByteShort", [](auto& b) { b.pop_back(); }, "truncated hand-off image (8271 of 8272 bytes)"},
        Broken{"FrameCountBeyondTheFile", [](auto& b) { ce::putLe32(&b[36], 3); },
               "truncated hand-off image (8272 of 12372 bytes)"},
        Broken{"TrailingByte", [](auto& b) { b.push_back(0); }, "hand-off image has 8273 bytes, expected 8272"},
        Broken{"UnalignedFrame", [](auto& b) { ce::putLe32(&b[72], 0xA1000010u); },
               "frame at 0xa1000010 is not 4096-aligned"},
        Broken{"FramesOutOfOrder", [](auto& b) { ce::putLe32(&b[72 + 4100], 0xA1000000u); },
               "frame at 0xa1000000 is out of order"},
        // The processor name sits behind the 23-byte profile name.
        Broken{"UnknownProcessor", [](auto& b) { b[40 + 23] = 'Q'; }, "unknown processor \"QXA270\""},
        Broken{"ControlBytesInTheName", [](auto& b) { b[40 + 23] = 0x1B; }, "unknown processor \"\\x1bXA270\""},
        Broken{"ProcessorOfTheOtherFamily", [](auto& b) { ce::putLe32(&b[8], 0); },
               "processor PXA270 is not of the SA-11x0 family the image names"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::handoff
