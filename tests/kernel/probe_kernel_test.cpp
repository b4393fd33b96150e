// The probe kernels as the build made them: the layout the loader and hand-off tests rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "tests/kernel/probe_image.h"
#include "tests/kernel/probe_paths.h"

namespace {

using kestrel::testing::probeXorshift;

std::vector<std::uint8_t> readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Segment {
  std::uint32_t offset, vaddr, paddr, filesz, memsz;
};

struct Variant {
  const char* name;
  const char* path;
  std::uint32_t runBase;
};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

class ProbeKernel : public ::testing::TestWithParam<Variant> {};

TEST_P(ProbeKernel, LayoutMatchesTheHandOff) {
  const Variant& v = GetParam();
  std::vector<std::uint8_t> f = readFile(v.path);
  ASSERT_GT(f.size(), 1u << 20) << v.path;
  const std::uint8_t* p = f.data();

  ASSERT_EQ(ce::getLe32(p), 0x464C457Fu);
  EXPECT_EQ(p[4], 1);                      // 32-bit
  EXPECT_EQ(p[5], 1);                      // little-endian
  EXPECT_EQ(ce::getLe16(p + 16), 2);       // executable
  EXPECT_EQ(ce::getLe16(p + 18), 40);      // ARM
  EXPECT_EQ(ce::getLe32(p + 24), 0xC0200000u);  // e_entry: the load address of _start
  ASSERT_EQ(ce::getLe16(p + 42), 32);

  std::vector<Segment> loads;
  std::uint32_t phoff = ce::getLe32(p + 28);
  for (unsigned i = 0; i < ce::getLe16(p + 44); ++i) {
    const std::uint8_t* ph = p + phoff + 32 * i;
    if (ce::getLe32(ph) == 1)
      loads.push_back({ce::getLe32(ph + 4), ce::getLe32(ph + 8), ce::getLe32(ph + 12), ce::getLe32(ph + 16),
                       ce::getLe32(ph + 20)});
  }
  ASSERT_EQ(loads.size(), 3u);
  EXPECT_EQ(loads[0].vaddr, v.runBase);
  EXPECT_EQ(loads[0].paddr, 0xC0200000u);
  for (const Segment& s : loads) EXPECT_EQ(s.paddr - s.vaddr, 0xC0200000u - v.runBase);
  // The second segment is the read-only pattern, the last one ends in .bss.
  EXPECT_GE(loads[1].filesz, 1u << 20);
  EXPECT_GT(loads[2].memsz, loads[2].filesz + 0x10000);

  // Its first 1 MiB is the pattern that probe_image.h computes.
  ASSERT_LE(loads[1].offset + (1u << 20), f.size());
  std::uint32_t x = kestrel::testing::probeRodataSeed;
  for (std::uint32_t i = 0; i < (1u << 18); ++i) {
    x = probeXorshift(x);
    ASSERT_EQ(ce::getLe32(p + loads[1].offset + 4 * i), x) << "word " << i;
  }

  // .symtab and .strtab are kept, and the symbols the probe looks up are in them.
  std::uint32_t shoff = ce::getLe32(p + 32), shnum = ce::getLe16(p + 48), shstrndx = ce::getLe16(p + 50);
  ASSERT_EQ(ce::getLe16(p + 46), 40);
  const std::uint8_t* names = p + ce::getLe32(p + shoff + 40 * shstrndx + 16);
  const std::uint8_t *symtab = nullptr, *strtab = nullptr;
  std::uint32_t symsize = 0;
  for (std::uint32_t i = 0; i < shnum; ++i) {
    const std::uint8_t* sh = p + shoff + 40 * i;
    std::string name(reinterpret_cast<const char*>(names + ce::getLe32(sh)));
    if (name == ".symtab") {
      symtab = p + ce::getLe32(sh + 16);
      symsize = ce::getLe32(sh + 20);
    }
    if (name == ".strtab") strtab = p + ce::getLe32(sh + 16);
  }
  ASSERT_TRUE(symtab && strtab);
  std::uint32_t probeMain = 0;
  for (std::uint32_t at = 0; at + 16 <= symsize; at += 16)
    if (std::string(reinterpret_cast<const char*>(strtab + ce::getLe32(symtab + at))) == "probe_main")
      probeMain = ce::getLe32(symtab + at + 4);
  EXPECT_GE(probeMain, loads[0].vaddr);
  EXPECT_LT(probeMain, loads[0].vaddr + loads[0].memsz);
}

INSTANTIATE_TEST_SUITE_P(Variants, ProbeKernel,
                         ::testing::Values(Variant{"sa11x0", kestrel::testing::probeKernelSa11x0, 0xC0200000u},
                                           Variant{"pxa2x0", kestrel::testing::probeKernelPxa2x0, 0xA0200000u}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
