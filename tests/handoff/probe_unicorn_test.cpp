// The probe kernel handed over for real and run in unicorn: read through the boot's own file
// manager, loaded by the ELF loader into a chain over the handheld's pages, the second stage
// placed by setupLoader, a BootArgs page, the jump's image. The unicorn run must equal the
// reference walk, and the probe must then report every check passed; a machine damaged in one
// place must make that check fail (and those that depend on it).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "file/fat_file_manager.h"
#include "handoff/image.h"
#include "handoff/unicorn_runner.h"
#include "load/elf_loader.h"
#include "tests/handoff/probe_boot.h"
#include "tests/kernel/probe_image.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using handoff::HandoffImage;
using handoff::testing::ProbeBoot;

constexpr std::uint32_t ImageSize = 0x10000;

// The machine at the jump for `platform`, with a probe image behind "m=" when asked for.
HandoffImage boot(const std::string& platform, bool withImage) {
  kestrel_testing::HandheldOptions options;
  options.platform = platform;
  options.extraIni = "page_order = shuffle:7\ncom1 = none\n";
  kestrel_testing::TempHandheld hh(options);
  const handheld::Profile& profile = hh.machine().config().profile;
  hh.writeFile(u"\\Storage Card\\corvid", handoff::testing::probeKernel(profile.family));
  hh.writeFile(u"\\Storage Card\\miniroot.fs", testing::makeProbeImage(ImageSize, 0x5EED));

  ProbeBoot parts(profile);
  HandoffImage image;
  if (!parts.arch->init()) return image;

  auto files = std::make_unique<FatFileManager>(&parts.consolePtr);
  FileManager* filesPtr = files.get();
  if (!files->setRoot(u"\\Storage Card\\") || !files->open(u"corvid")) return image;
  ElfLoader loader(&parts.consolePtr, &parts.mmPtr);
  loader.setDestinationMap(parts.arch.get());  // as the boot object gives it
  if (!loader.setFile(&filesPtr)) return image;
  std::uint32_t need = loader.memorySize() + (withImage ? ImageSize + 2 * 4096 : 0);
  // No chain page where the second stage writes: the kernel's ranges and the image's behind them.
  std::vector<AddressRange> ranges = loader.destinationRanges();
  if (withImage && !ranges.empty()) {
    std::uint32_t end = ranges.back().start + ranges.back().length;
    ranges.push_back({(end + 4095) & ~4095u, ImageSize});
  }
  parts.setAside(ranges);
  if (!parts.mm->reservePages(need + 4 * 4096) || !parts.arch->setupLoader() || !loader.load()) return image;
  files->close();
  if (withImage && (!files->open(u"miniroot.fs") || !loader.loadImage())) return image;
  loader.finishChain();
  files->close();
  std::vector<std::string> argv{"corvid", "h"};
  if (withImage) argv.push_back("m=miniroot.fs");
  std::uint32_t args =
      handoff::testing::fillBootArgs(*parts.mm, loader.entryAddress(), profile, SerialConsoleKind, argv);

  std::string error;
  if (!parts.jump(args, loader.firstLinkAddress(), hh.dir() / "handoff.img", image, error)) image = HandoffImage();
  return image;
}

handoff::HandoffCheck run(const HandoffImage& image) {
  handoff::UnicornOptions options;
  options.runKernel = true;
  handoff::HandoffCheck check;
  std::string error;
  EXPECT_TRUE(handoff::checkInUnicorn(image, check, error, options)) << error;
  EXPECT_TRUE(check.run.kernel.error.empty()) << check.run.kernel.error << "\n" << check.run.kernel.output;
  return check;
}

struct Platform {
  const char* name;
  bool withImage;
};

void PrintTo(const Platform& p, std::ostream* os) { *os << p.name << (p.withImage ? " with image" : ""); }

class ProbeInUnicorn : public ::testing::TestWithParam<Platform> {};

TEST_P(ProbeInUnicorn, EveryCheckPasses) {
  HandoffImage image = boot(GetParam().name, GetParam().withImage);
  ASSERT_GT(image.memory.frameCount(), 0u) << "the boot did not get to the jump";
  handoff::HandoffCheck check = run(image);
  const std::string& report = check.run.kernel.output;
  EXPECT_TRUE(check.run.kernel.exited);
  EXPECT_EQ(check.run.kernel.status, 0) << report;
  EXPECT_NE(report.find("probe: all checks passed\n"), std::string::npos) << report;
  EXPECT_NE(report.find("probe: argv[0] = \"corvid\"\n"), std::string::npos) << report;
  EXPECT_NE(report.find("probe: console: ok 2 (serial)\n"), std::string::npos) << report;
  EXPECT_NE(report.find(GetParam().withImage ? "probe: image: ok at " : "probe: image: none\n"), std::string::npos)
      << report;
}

INSTANTIATE_TEST_SUITE_P(Platforms, ProbeInUnicorn,
                         ::testing::Values(Platform{"Compaq iPAQ H3600", false}, Platform{"Compaq iPAQ H3600", true},
                                           Platform{"Sharp W-ZERO3 (WS003SH)", false},
                                           Platform{"Sharp W-ZERO3 (WS003SH)", true}),
                         [](const auto& info) {
                           std::string name = info.param.name[0] == 'C' ? "Sa11x0" : "Pxa2x0";
                           return name + (info.param.withImage ? "WithImage" : "");
                         });

// The link whose destination range holds `address`.
const handoff::WalkedLink* linkFor(const handoff::WalkResult& walk, std::uint32_t address) {
  for (const handoff::WalkedLink& l : walk.links)
    if (address >= l.destination && address - l.destination < l.length) return &l;
  return nullptr;
}

struct Damage {
  const char* name;
  // Changes the machine; `walk` is the undamaged chain's walk.
  std::function<void(HandoffImage&, const handoff::WalkResult&)> apply;
  const char* line;    // the report line the probe must print
  const char* failed;  // the names in "probe: FAILED ..."
};

// Addresses in the SA-11x0 probe, where it runs (see tests/kernel/README.md).
constexpr std::uint32_t Rodata = 0xC0202000u, KsymsAt = 0xC0318000u;

const std::vector<Damage>& damages() {
  static const std::vector<Damage> all = {
      {"a data word",
       [](HandoffImage& m, const handoff::WalkResult& w) {
         const handoff::WalkedLink* l = linkFor(w, Rodata + 0x10);
         m.memory.write32(l->source + (Rodata + 0x10 - l->destination), 0);
       },
       "probe: data: FAIL word at 0xc0202010 is 0x00000000, expected 0xf2adbbaf\n", "data"},
      {"bss not cleared",
       [](HandoffImage& m, const handoff::WalkResult& w) {
         for (const handoff::WalkedLink& l : w.links)
           if (l.zero()) m.memory.write32(l.at + 12, 4);  // only the first word cleared
       },
       "probe: bss: FAIL word at 0xc0304004 is ", "bss"},
      {"BootInfo magic", [](HandoffImage& m, const handoff::WalkResult&) { m.memory.write32(m.r[0] + 20, 0x13536136); },
       "probe: bootinfo: FAIL length 36 magic 0x13536136\n", "bootinfo"},
      {"ksyms header",
       [](HandoffImage& m, const handoff::WalkResult& w) {
         const handoff::WalkedLink* l = linkFor(w, KsymsAt);
         m.memory.write32(l->source + 32, 0x1000);  // e_shoff
       },
       // Without the block's end the image is looked for in the wrong place, and the stack
       // pointer cannot be checked.
       "probe: ksyms: FAIL at 0xc0318000: header fields not rewritten\n", "ksyms image sp"},
      {"an image word",
       [](HandoffImage& m, const handoff::WalkResult& w) {
         const handoff::WalkedLink& last = w.links.back();  // the image's last piece
         m.memory.write32(last.source + 4, 0);
       },
       "probe: image: FAIL word at ", "image sp"},
      {"stack one page higher",
       [](HandoffImage& m, const handoff::WalkResult& w) {
         const handoff::WalkedLink& last = w.links.back();
         m.memory.write32(last.at + 12, last.length + 0x1000);
       },
       "probe: sp: FAIL ", "sp"},
      {"too many arguments", [](HandoffImage& m, const handoff::WalkResult&) { m.memory.write32(m.r[0] + 4, 17); },
       // The arguments are not read, so there is no "m=" and the stack is expected behind ksyms.
       "probe: argc: FAIL 17\n", "argc sp"},
  };
  return all;
}

TEST(ProbeInUnicorn, DamageMakesItsCheckFail) {
  HandoffImage undamaged = boot("Compaq iPAQ H3600", true);
  ASSERT_GT(undamaged.memory.frameCount(), 0u) << "the boot did not get to the jump";
  handoff::HandoffImage loaded = undamaged;
  std::string error;
  ASSERT_TRUE(handoff::loadSecondStage(loaded, error)) << error;
  handoff::WalkResult walk;
  ASSERT_TRUE(handoff::walkChain(loaded, walk, error)) << error;

  for (const Damage& d : damages()) {
    SCOPED_TRACE(d.name);
    HandoffImage image = undamaged;
    d.apply(image, walk);
    handoff::HandoffCheck check = run(image);
    const std::string& report = check.run.kernel.output;
    EXPECT_EQ(check.run.kernel.status, 1) << report;
    EXPECT_NE(report.find(d.line), std::string::npos) << report;
    EXPECT_NE(report.find(std::string("checks: ") + d.failed + "\n"), std::string::npos) << report;
  }
}

}  // namespace
}  // namespace kestrel
