#include "boot/platform_table.h"

#include "boot/settings.h"

namespace kestrel {

// Constant data of the program, in this fixed order: the Main tab sorts its own copy of the
// names, the table itself is never reordered.
const PlatformEntry platformTable[] = {
    {{0x0C000000, 0x00000000}, u"ARM"},
    {{0x0C100000, 0x00000000}, u"ARM STRONGARM"},
    {{0x0C104000, 0x00000000}, u"ARM STRONGARM SA1100"},
    {{0x0C108000, 0x00000000}, u"ARM STRONGARM SA1110"},
    {{0x0C200000, 0x00000000}, u"ARM XSCALE"},
    {{0x0C204000, 0x00000000}, u"ARM XSCALE PXA250"},
    {{0x0C208000, 0x00000000}, u"ARM XSCALE PXA270"},
    {{0x00000000, 0x00C00000}, u"CASIO"},
    {{0x00000000, 0x01000000}, u"Sharp"},
    {{0x00000000, 0x01040000}, u"Sharp WZERO3"},
    {{0x0C208000, 0x01040100}, u"Sharp W-ZERO3 (WS003SH)"},
    {{0x0C208000, 0x01040200}, u"Sharp W-ZERO3 (WS004SH)"},
    {{0x0C208000, 0x01040300}, u"Sharp W-ZERO3[es] (WS007SH)"},
    {{0x0C208000, 0x01040400}, u"Sharp Advanced/W-ZERO3[es] (WS011SH)"},
    {{0x0C208000, 0x01040500}, u"Sharp WILLCOM 03 (WS020SH)"},
    {{0x00000000, 0x01C00000}, u"Compaq"},
    {{0x00000000, 0x01C40000}, u"Compaq iPAQ"},
    {{0x00000000, 0x01C40100}, u"Compaq iPAQ H31XX"},
    {{0x0C108000, 0x01C40101}, u"Compaq iPAQ H3100"},
    {{0x00000000, 0x01C40200}, u"Compaq iPAQ H36XX"},
    {{0x0C108000, 0x01C40201}, u"Compaq iPAQ H3600"},
    {{0x0C108000, 0x01C40202}, u"Compaq iPAQ H3660"},
    {{0x00000000, 0x01C40300}, u"Compaq iPAQ H39XX"},
    {{0x0C204000, 0x01C40301}, u"Compaq iPAQ H3900"},
    {{0x00000000, 0x02C00000}, u"HP"},
    {{0x00000000, 0x02C20000}, u"HP Jornada"},
    {{0x00000000, 0x02C20200}, u"HP Jornada 7XX"},
    {{0x0C108000, 0x02C20201}, u"HP Jornada 720 (US/UK)"},
    {{0x0C108000, 0x02C20202}, u"HP Jornada 720 (Japanese)"},
    {{0x0C108000, 0x02C20203}, u"HP Jornada 720 (European)"},
    {{0x0C108000, 0x02C20204}, u"HP Jornada 720 (German)"},
    {{0x0C108000, 0x02C20205}, u"HP Jornada 720 (French)"},
    {{0x0C108000, 0x02C20206}, u"HP Jornada 720 (Scandinavian)"},
    {{0x0C108000, 0x02C20207}, u"HP Jornada 720 (Spanish)"},
    {{0x00000000, 0x02C20300}, u"HP Jornada 8XX"},
    {{0x0C104000, 0x02C20301}, u"HP Jornada 820"},
    {{0x0C104000, 0x02C20302}, u"HP Jornada 820 (Japanese)"},
    {{0x00000000, 0x04000000}, u"PSIONTEKLOGIX"},
    {{0x00000000, 0x04010000}, u"PSIONTEKLOGIX NETBOOK"},
    {{0x0C204000, 0x04010100}, u"PSIONTEKLOGIX NETBOOK PRO"},
};

const std::size_t platformTableCount = sizeof(platformTable) / sizeof(platformTable[0]);
static_assert(sizeof(platformTable) / sizeof(platformTable[0]) == 40);

const PlatformEntry* selectableEntry(int i) {
  int position = 0;
  for (std::size_t k = 0; k < platformTableCount; ++k) {
    if (!platformTable[k].selectable()) continue;
    if (position == i) return &platformTable[k];
    ++position;
  }
  return nullptr;
}

const char16_t* platformName(int i) {
  const PlatformEntry* entry = selectableEntry(i);
  return entry ? entry->name : nullptr;
}

int platformIndex(const PlatformId& id) {
  int position = 0;
  for (std::size_t k = 0; k < platformTableCount; ++k) {
    if (!platformTable[k].selectable()) continue;
    if (platformTable[k].id == id) return position;
    ++position;
  }
  return 0;
}

void selectPlatform(int i, PlatformId& target) {
  if (const PlatformEntry* entry = selectableEntry(i)) target = entry->id;
}

int platformIndex() { return platformIndex(settings().platform); }

void selectPlatform(int i) { selectPlatform(i, settings().platform); }

}  // namespace kestrel
