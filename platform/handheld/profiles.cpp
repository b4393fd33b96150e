// The 19 selectable platforms of the platform table, in table order, with the hardware the
// simulation gives each: processor and its CP15 identification, DRAM banks, screen, the
// Windows CE release the model shipped with and the default code page.
#include <algorithm>

#include "platform/handheld/machine.h"

namespace handheld {
namespace {

constexpr std::uint32_t MiB = 1024 * 1024;

// CP15 register 0 (main ID) of each processor: implementer, architecture, part, revision.
constexpr std::uint32_t idSA1100 = 0x4401A118;  // DEC, StrongARM SA-1100, revision 8
constexpr std::uint32_t idSA1110 = 0x6901B119;  // Intel, StrongARM SA-1110, revision 9
constexpr std::uint32_t idPXA250 = 0x69052100;  // Intel XScale, PXA250 A0
constexpr std::uint32_t idPXA255 = 0x69052D06;  // Intel XScale, PXA255 A0
constexpr std::uint32_t idPXA270 = 0x69054117;  // Intel XScale, PXA270 C5

// Platform-table processor words.
constexpr std::uint32_t cpuSA1100 = 0x0C104000;
constexpr std::uint32_t cpuSA1110 = 0x0C108000;
constexpr std::uint32_t cpuPXA250 = 0x0C204000;
constexpr std::uint32_t cpuPXA270 = 0x0C208000;

// DRAM: the SA-11x0 banks start at 0xC0000000 and are 128 MiB apart; the PXA-2x0 SDRAM
// partitions start at 0xA0000000 and are 64 MiB apart.
constexpr std::uint32_t saBank0 = 0xC0000000, saBank1 = 0xC8000000;
constexpr std::uint32_t pxaBank0 = 0xA0000000, pxaBank1 = 0xA4000000;

Profile make(const char* name, std::uint32_t cpu, std::uint32_t machine, const char* processor, std::uint32_t cp15Id,
             std::vector<DramBank> dram, int width, int height, int bpp, int dpi, int osMajor, int osMinor, int osBuild,
             unsigned codePage) {
  Profile p;
  p.name = name;
  p.cpu = cpu;
  p.machine = machine;
  p.family = (cpu & 0x03F00000) == 0x00100000 ? Family::SA11x0 : Family::PXA2x0;
  p.processor = processor;
  p.cp15Id = cp15Id;
  p.dram = std::move(dram);
  p.width = width;
  p.height = height;
  p.bitsPerPixel = bpp;
  p.dpi = dpi;
  p.osMajor = osMajor;
  p.osMinor = osMinor;
  p.osBuild = osBuild;
  p.codePage = codePage;
  // What GetSystemInfo reports: ARM, architecture version 4 (StrongARM) or 5 (XScale), the
  // revision field of the main ID.
  p.processorArchitecture = 5;
  p.processorLevel = p.family == Family::SA11x0 ? 4 : 5;
  p.processorRevision = static_cast<std::uint16_t>(cp15Id & 0xF);
  p.processorType = 2577;
  return p;
}

std::vector<Profile> build() {
  const std::vector<DramBank> sa16{{saBank0, 16 * MiB}};
  const std::vector<DramBank> sa32{{saBank0, 32 * MiB}};
  const std::vector<DramBank> sa64{{saBank0, 32 * MiB}, {saBank1, 32 * MiB}};
  const std::vector<DramBank> pxa64{{pxaBank0, 64 * MiB}};
  const std::vector<DramBank> pxa128{{pxaBank0, 64 * MiB}, {pxaBank1, 64 * MiB}};
  std::vector<Profile> v;
  auto wzero3 = [&](const char* name, std::uint32_t machine, int height) {
    v.push_back(make(name, cpuPXA270, machine, "PXA270", idPXA270, pxa64, 480, height, 16, 192, 5, 0, 0, 932));
  };
  wzero3("Sharp W-ZERO3 (WS003SH)", 0x01040100, 640);
  wzero3("Sharp W-ZERO3 (WS004SH)", 0x01040200, 640);
  wzero3("Sharp W-ZERO3[es] (WS007SH)", 0x01040300, 640);
  wzero3("Sharp Advanced/W-ZERO3[es] (WS011SH)", 0x01040400, 800);
  wzero3("Sharp WILLCOM 03 (WS020SH)", 0x01040500, 800);
  v.push_back(make("Compaq iPAQ H3100", cpuSA1110, 0x01C40101, "SA-1110", idSA1110, sa16, 240, 320, 16, 96, 3, 0, 0,
                   1252));
  v.push_back(make("Compaq iPAQ H3600", cpuSA1110, 0x01C40201, "SA-1110", idSA1110, sa32, 240, 320, 16, 96, 3, 0, 0,
                   1252));
  v.push_back(make("Compaq iPAQ H3660", cpuSA1110, 0x01C40202, "SA-1110", idSA1110, sa64, 240, 320, 16, 96, 3, 0, 0,
                   1252));
  v.push_back(make("Compaq iPAQ H3900", cpuPXA250, 0x01C40301, "PXA250", idPXA250, pxa64, 240, 320, 16, 96, 3, 0, 0,
                   1252));
  const char* jornada720[] = {"HP Jornada 720 (US/UK)",  "HP Jornada 720 (Japanese)",     "HP Jornada 720 (European)",
                              "HP Jornada 720 (German)", "HP Jornada 720 (French)",       "HP Jornada 720 (Scandinavian)",
                              "HP Jornada 720 (Spanish)"};
  for (std::uint32_t k = 0; k < 7; ++k) {
    v.push_back(make(jornada720[k], cpuSA1110, 0x02C20201 + k, "SA-1110", idSA1110, sa32, 640, 240, 16, 96, 3, 0, 0,
                     k == 1 ? 932 : 1252));
  }
  v.push_back(make("HP Jornada 820", cpuSA1100, 0x02C20301, "SA-1100", idSA1100, sa16, 640, 480, 8, 96, 2, 11, 0, 1252));
  v.push_back(make("HP Jornada 820 (Japanese)", cpuSA1100, 0x02C20302, "SA-1100", idSA1100, sa16, 640, 480, 8, 96, 2,
                   11, 0, 932));
  // The table names the NETBOOK PRO's processor class PXA250; the board carries a PXA255.
  v.push_back(make("PSIONTEKLOGIX NETBOOK PRO", cpuPXA250, 0x04010100, "PXA255", idPXA255, pxa128, 800, 600, 16, 96, 4,
                   2, 0, 1252));
  return v;
}

}  // namespace

const std::vector<Profile>& profiles() {
  static const std::vector<Profile> table = build();
  return table;
}

const Profile* findProfile(const std::string& name) {
  const auto& table = profiles();
  auto it = std::find_if(table.begin(), table.end(), [&](const Profile& p) { return p.name == name; });
  return it == table.end() ? nullptr : &*it;
}

}  // namespace handheld
