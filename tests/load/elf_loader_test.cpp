// The ELF loader on the probe kernel and on files derived from it by editing bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "boot/settings.h"
#include "file/gzip_file_manager.h"
#include "arch/pxa2x0_architecture.h"
#include "arch/sa11x0_architecture.h"
#include "load/elf_loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/bytes.h"
#include "platform/handheld/physical_memory.h"
#include "platform/message_box.h"
#include "tests/kernel/probe_paths.h"
#include "tests/load/load_test_support.h"
#include "tests/support/gzip_writer.h"

namespace kestrel {
namespace {

using load_test::Bytes;
using load_test::Link;
using load_test::MemoryFile;

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string hex(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return widen(b);
}

// The probe kernel's tables, read independently of the loader.
struct Elf {
  struct Segment {
    std::uint32_t type, offset, paddr, filesz, memsz;
  };
  struct Section {
    std::string name;
    std::uint32_t offset, size;
  };
  explicit Elf(const Bytes& b) : bytes(b) {
    phoff = ce::getLe32(&b[28]);
    shoff = ce::getLe32(&b[32]);
    phnum = ce::getLe16(&b[44]);
    shnum = ce::getLe16(&b[48]);
    shstrndx = ce::getLe16(&b[50]);
    for (std::uint32_t i = 0; i < phnum; ++i) {
      const std::uint8_t* p = &b[phoff + 32 * i];
      segments.push_back({ce::getLe32(p), ce::getLe32(p + 4), ce::getLe32(p + 12), ce::getLe32(p + 16),
                          ce::getLe32(p + 20)});
    }
    const std::uint32_t names = ce::getLe32(&b[shoff + 40 * shstrndx + 16]);
    for (std::uint32_t i = 0; i < shnum; ++i) {
      const std::uint8_t* s = &b[shoff + 40 * i];
      sections.push_back({reinterpret_cast<const char*>(&b[names + ce::getLe32(s)]), ce::getLe32(s + 16),
                          ce::getLe32(s + 20)});
    }
  }
  const Section& section(const std::string& name) const {
    for (const Section& s : sections)
      if (s.name == name) return s;
    throw std::runtime_error("no section " + name);
  }
  std::uint32_t sectionIndex(const std::string& name) const {
    for (std::uint32_t i = 0; i < sections.size(); ++i)
      if (sections[i].name == name) return i;
    throw std::runtime_error("no section " + name);
  }
  std::uint32_t ph(std::uint32_t i, std::uint32_t field) const { return phoff + 32 * i + field; }
  std::uint32_t sh(std::uint32_t i, std::uint32_t field) const { return shoff + 40 * i + field; }
  Bytes slice(std::uint32_t offset, std::uint32_t size) const {
    return Bytes(bytes.begin() + offset, bytes.begin() + offset + size);
  }

  Bytes bytes;
  std::uint32_t phoff, shoff, phnum, shnum, shstrndx;
  std::vector<Segment> segments;
  std::vector<Section> sections;
};

std::uint32_t roundUp4(std::uint32_t v) { return (v + 3) & ~3u; }

template <class... Args>
std::u16string fmt(const char* format, Args... args) {
  char b[256];
  std::snprintf(b, sizeof b, format, args...);
  return widen(b);
}

// "file size: " and the loadable segments' file sizes joined by "+".
std::u16string fileSizes(const Elf& elf) {
  std::u16string s = u"file size: ";
  bool first = true;
  for (const Elf::Segment& g : elf.segments) {
    if (g.type != 1) continue;
    s += (first ? u"" : u"+") + hex(g.filesz);
    first = false;
  }
  return s;
}

const Bytes& probe(const char* path) {
  static std::map<std::string, Bytes> cache;
  Bytes& b = cache[path];
  if (b.empty()) b = load_test::readBytes(path);
  return b;
}
const Bytes& saProbe() { return probe(testing::probeKernelSa11x0); }

class ElfLoaderTest : public load_test::LoadTest {
 protected:
  ElfLoaderTest() : LoadTest("hostile") {
    ce::setMessageBoxHook([this](ce::HWND, const ce::WCHAR* text, const ce::WCHAR* caption, ce::UINT type) {
      boxes_.push_back(std::u16string(caption) + u"|" + text + u"|" + hex(type));
      return ce::IdOk;
    });
    settings().safetyMessage = 1;
  }
  ~ElfLoaderTest() override {
    ce::setMessageBoxHook(nullptr);
    releaseSettings();
  }

  // An ELF loader on `file`, with the constructor's line already taken.
  std::unique_ptr<ElfLoader> loader(std::unique_ptr<FileManager> file) {
    file_ = std::move(file);
    filePointer_ = file_.get();
    newMemoryManager();
    auto l = std::make_unique<ElfLoader>(&consolePointer_, &memoryPointer_);
    EXPECT_EQ(console_.take(), u"MemoryManager: LockPages\nLoader: ELF\n");
    return l;
  }
  std::unique_ptr<ElfLoader> loader(const Bytes& bytes) {
    return loader(std::make_unique<MemoryFile>(&consolePointer_, bytes));
  }
  bool setFile(ElfLoader& l) { return l.setFile(&filePointer_); }
  // setFile, memorySize, reservePages for it, load and finishChain, as the boot runs them.
  bool run(ElfLoader& l) {
    if (!setFile(l)) return false;
    const std::uint32_t size = l.memorySize();
    if (!manager_->reservePages(size)) return false;
    const bool ok = l.load();
    l.finishChain();
    return ok;
  }

  std::unique_ptr<FileManager> file_;
  FileManager* filePointer_ = nullptr;
  std::vector<std::u16string> boxes_;
};

// Every loadable segment at its p_paddr, cleared to p_memsz, and a ksyms block behind the last
// one that describes the file's symbol and string tables.
void expectLoadedAsTheFileSays(const Elf& elf, const load_test::Replay& replay, bool ksyms) {
  std::uint32_t ksymsAt = 0, top = 0;
  for (std::uint32_t i = 0; i < elf.segments.size(); ++i) {
    const Elf::Segment& s = elf.segments[i];
    if (s.type != 1) continue;
    SCOPED_TRACE("segment " + std::to_string(i));
    ASSERT_TRUE(replay.covered(s.paddr, s.memsz));
    EXPECT_EQ(replay.bytes(s.paddr, s.filesz), elf.slice(s.offset, s.filesz));
    EXPECT_EQ(replay.bytes(s.paddr + s.filesz, s.memsz - s.filesz), Bytes(s.memsz - s.filesz, 0));
    ksymsAt = s.paddr + roundUp4(s.memsz);
    top = std::max(top, s.paddr + s.memsz);
  }
  if (!ksyms) {
    EXPECT_EQ(replay.high(), top);  // nothing but the segments
    return;
  }
  ASSERT_TRUE(replay.covered(ksymsAt, 52));
  const Bytes header = replay.bytes(ksymsAt, 52);
  const Bytes original = elf.slice(0, 52);
  EXPECT_EQ(Bytes(header.begin(), header.begin() + 24), Bytes(original.begin(), original.begin() + 24));
  EXPECT_EQ(ce::getLe32(&header[24]), 0u);  // e_entry
  EXPECT_EQ(ce::getLe32(&header[28]), 0u);  // e_phoff
  EXPECT_EQ(ce::getLe32(&header[32]), 52u);  // e_shoff
  EXPECT_EQ(Bytes(header.begin() + 36, header.begin() + 44), Bytes(original.begin() + 36, original.begin() + 44));
  EXPECT_EQ(ce::getLe16(&header[44]), 0u);  // e_phnum
  EXPECT_EQ(Bytes(header.begin() + 46, header.end()), Bytes(original.begin() + 46, original.end()));

  const std::uint32_t T = elf.shnum * 40;
  ASSERT_TRUE(replay.covered(ksymsAt + 52, T));
  const Bytes table = replay.bytes(ksymsAt + 52, T);
  int nonzero = 0;
  for (std::uint32_t i = 0; i < elf.shnum; ++i) {
    const std::uint32_t offset = ce::getLe32(&table[40 * i + 16]);
    const std::uint32_t size = ce::getLe32(&table[40 * i + 20]);
    // Only sh_offset differs from the file's header.
    Bytes want = elf.slice(elf.sh(i, 0), 40), got(table.begin() + 40 * i, table.begin() + 40 * i + 40);
    ce::putLe32(&want[16], offset);
    EXPECT_EQ(got, want) << i;
    if (offset == 0) continue;
    ++nonzero;
    const std::string& name = elf.sections[i].name;
    EXPECT_TRUE(name == ".symtab" || name == ".strtab" || name == ".shstrtab") << name;
    ASSERT_TRUE(replay.covered(ksymsAt + offset, size)) << name;
    EXPECT_EQ(replay.bytes(ksymsAt + offset, size), elf.slice(elf.sections[i].offset, size)) << name;
  }
  EXPECT_EQ(nonzero, 3);
  const Elf::Section& strtab = elf.section(".strtab");
  EXPECT_EQ(replay.high(),
            std::max(top, ksymsAt + ce::getLe32(&table[40 * elf.sectionIndex(".strtab") + 16]) + strtab.size));
}

TEST_F(ElfLoaderTest, ProbeKernelsLoadByteForBytePlainAndCompressed) {
  struct Case {
    const char* kernel;
    bool gzip;
  };
  const Case cases[] = {{testing::probeKernelSa11x0, false},
                        {testing::probeKernelSa11x0, true},
                        {testing::probeKernelPxa2x0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kernel) + (c.gzip ? " (gzip)" : ""));
    const Elf elf(probe(c.kernel));
    std::unique_ptr<FileManager> file = std::make_unique<MemoryFile>(&consolePointer_, elf.bytes);
    if (c.gzip) {
      file = std::make_unique<GzipFileManager>(
          &consolePointer_, std::make_unique<MemoryFile>(&consolePointer_, kestrel_testing::zlibGzip(elf.bytes)));
      ASSERT_TRUE(file->open(u"corvid.gz"));
    }
    auto l = loader(std::move(file));
    ASSERT_TRUE(run(*l)) << narrow(console_.text);
    const std::u16string printed = console_.take();
    EXPECT_TRUE(boxes_.empty());

    // The size line joins the segments' file sizes and names the ksyms parts.
    std::u16string sizes = fileSizes(elf);
    const std::uint32_t H = 52 + elf.shnum * 40 + roundUp4(elf.sections[elf.shstrndx].size);
    sizes += u"+[ksyms: header " + hex(H) + u", symtab " + hex(elf.section(".symtab").size) + u", strtab " +
             hex(elf.section(".strtab").size) + u" = ";
    EXPECT_EQ(printed.rfind(sizes, 0), 0u) << narrow(printed);
    for (std::uint32_t i = 0; i < elf.segments.size(); ++i) {
      const Elf::Segment& s = elf.segments[i];
      char line[96];
      std::snprintf(line, sizeof line, "seg[%u] paddr 0x%08x file size 0x%x mem size 0x%x\n", i, s.paddr, s.filesz,
                    s.memsz);
      EXPECT_NE(printed.find(widen(line)), std::u16string::npos) << line;
    }
    EXPECT_NE(printed.find(u"ksyms\n"), std::u16string::npos);

    const std::vector<Link> chain = load_test::walkChain(l->firstLinkAddress());
    EXPECT_EQ(static_cast<int>(chain.size()), l->loadLinkCount() + l->zeroLinkCount());
    expectLoadedAsTheFileSays(elf, load_test::Replay(chain), true);
    EXPECT_EQ(l->entryAddress(), ce::getLe32(&elf.bytes[24]));
    EXPECT_EQ(console_.take(), u"kernel entry address: 0xc0200000\n");
  }
}

TEST_F(ElfLoaderTest, HeaderAndTableProblemsAreRefusedWithOneLine) {
  const Elf elf(saProbe());
  const auto fileSize = static_cast<std::uint32_t>(elf.bytes.size());
  using Edit = std::function<void(Bytes&)>;
  auto put16 = [](std::uint32_t at, std::uint16_t v) { return [=](Bytes& b) { ce::putLe16(&b[at], v); }; };
  auto put32 = [](std::uint32_t at, std::uint32_t v) { return [=](Bytes& b) { ce::putLe32(&b[at], v); }; };
  struct Case {
    const char* name;
    Edit edit;
    std::u16string printed;
  };
  const std::uint32_t sizeHex = fileSize;
  auto beyond = [&](const char* what, std::uint32_t offset, std::uint32_t size, std::uint32_t end) {
    char b[160];
    std::snprintf(b, sizeof b, "%s 0x%x+0x%x is beyond the end of the file (0x%x).\n", what, offset, size, end);
    return widen(b);
  };
  const Case cases[] = {
      {"not ELF", [](Bytes& b) { b[1] = 'X'; }, u"not a ELF file.\n"},
      {"64-bit", [](Bytes& b) { b[4] = 2; }, u"invalid class/data(2/1)\n"},
      {"big-endian", [](Bytes& b) { b[5] = 2; }, u"invalid class/data(1/2)\n"},
      {"x86", put16(18, 3), u"not a native architecture. machine = 3\n"},
      {"shared object", put16(16, 3), u"not a executable file. type = 3\n"},
      {"17 program headers", put16(44, 17), u"invalid program header information.\n"},
      {"no program headers", put16(44, 0), u"invalid program header information.\n"},
      {"program headers at 0", put32(28, 0), u"invalid program header information.\n"},
      {"64-bit program header size", put16(42, 56), u"invalid program header information.\n"},
      {"program headers past the end", put32(28, fileSize - 40),
       beyond("program header table", fileSize - 40, 96, sizeHex)},
      {"program headers wrapping", put32(28, 0xFFFFFFF0), beyond("program header table", 0xFFFFFFF0, 96, sizeHex)},
      {"section header size", put16(46, 64), u"invalid section header information.\n"},
      {"section-name index past the table", put16(50, static_cast<std::uint16_t>(elf.shnum)),
       u"invalid section header information.\n"},
      {"section headers wrapping", put32(32, 0xFFFFFF00),
       beyond("section header table", 0xFFFFFF00, elf.shnum * 40, sizeHex)},
      {"file size above memory size", put32(elf.ph(0, 16), 0x2000),
       fmt("segment 0: file size 0x2000 exceeds memory size 0x%x.\n", elf.segments[0].memsz)},
      {"paddr off a word", put32(elf.ph(1, 12), 0xC0202002), u"segment 1: paddr 0xc0202002 is not word aligned.\n"},
      {"segment data past the end", put32(elf.ph(2, 4), fileSize - 0x800),
       beyond("segment 2: file data", fileSize - 0x800, 0x1000, sizeHex)},
      {"segment data wrapping", put32(elf.ph(2, 4), 0xFFFFF800), beyond("segment 2: file data", 0xFFFFF800, 0x1000, sizeHex)},
      {"segment wrapping the address space", put32(elf.ph(2, 12), 0xFFFF0000),
       fmt("segment 2: 0xffff0000+0x%x wraps around the address space.\n", elf.segments[2].memsz)},
      {"file cut inside its section headers", [](Bytes& b) { b.erase(b.end() - 100, b.end()); },
       beyond("section header table", elf.shoff, elf.shnum * 40, fileSize - 100)},
      {"file cut inside a segment",
       [](Bytes& b) {
         b.resize(0x50000);
         ce::putLe16(&b[48], 0);  // no section headers to miss first
       },
       beyond("segment 1: file data", 0x3000, elf.segments[1].filesz, 0x50000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = elf.bytes;
    c.edit(bytes);
    auto l = loader(bytes);
    EXPECT_FALSE(setFile(*l));
    EXPECT_EQ(console_.take(), c.printed);
  }
}

TEST_F(ElfLoaderTest, SixteenProgramHeadersAreAccepted) {
  // The table moved to the end of the file and filled up with empty entries.
  Bytes bytes = saProbe();
  const Elf elf(bytes);
  const auto table = static_cast<std::uint32_t>(bytes.size());
  bytes.insert(bytes.end(), bytes.begin() + elf.phoff, bytes.begin() + elf.phoff + 32 * elf.phnum);
  bytes.resize(table + 16 * 32, 0);
  ce::putLe32(&bytes[28], table);
  ce::putLe16(&bytes[44], 16);
  auto l = loader(bytes);
  ASSERT_TRUE(run(*l)) << narrow(console_.text);
  expectLoadedAsTheFileSays(Elf(bytes), load_test::Replay(load_test::walkChain(l->firstLinkAddress())), true);
}

TEST_F(ElfLoaderTest, KsymsFollowTheLastSegmentInTableOrderNotTheHighest) {
  Bytes bytes = saProbe();
  const Elf elf(bytes);
  // .rodata's header last: the segment that comes last now lies lowest but one. .data moves
  // up a page, or the block behind .rodata would land on it.
  std::swap_ranges(bytes.begin() + elf.ph(1, 0), bytes.begin() + elf.ph(1, 32), bytes.begin() + elf.ph(2, 0));
  ce::putLe32(&bytes[elf.ph(1, 12)], elf.segments[2].paddr + 0x1000);
  const Elf edited(bytes);
  auto l = loader(bytes);
  ASSERT_TRUE(run(*l)) << narrow(console_.text);
  const std::uint32_t at = edited.segments[2].paddr + roundUp4(edited.segments[2].memsz);
  EXPECT_LT(at, edited.segments[1].paddr);
  EXPECT_NE(console_.take().find(fmt("ksyms\n\t->load 0x%08x+", at)), std::u16string::npos);
  expectLoadedAsTheFileSays(edited, load_test::Replay(load_test::walkChain(l->firstLinkAddress())), true);
}

TEST_F(ElfLoaderTest, ASegmentWithoutFileBytesIsOnlyCleared) {
  Bytes bytes = saProbe();
  const Elf elf(bytes);
  ce::putLe32(&bytes[elf.ph(2, 16)], 0);
  const Elf::Segment& s = elf.segments[2];
  auto l = loader(bytes);
  ASSERT_TRUE(run(*l));
  const std::u16string printed = console_.take();
  EXPECT_EQ(printed.rfind(fileSizes(Elf(bytes)) + u"+[ksyms", 0), 0u) << narrow(printed);
  EXPECT_NE(fileSizes(Elf(bytes)).find(u"+0x0"), std::u16string::npos);
  EXPECT_NE(printed.find(fmt("seg[2] paddr 0x%08x file size 0x0 mem size 0x%x\n"
                             "\t->load 0x%08x+0x%08x=0x%08x ofs=0x%08x+0x0\n"
                             "\t->zero 0x%08x+0x%08x=0x%08x\nksyms\n",
                             s.paddr, s.memsz, s.paddr, s.memsz, s.paddr + s.memsz, s.offset, s.paddr, s.memsz,
                             s.paddr + s.memsz)),
            std::u16string::npos)
      << narrow(printed);
  expectLoadedAsTheFileSays(Elf(bytes), load_test::Replay(load_test::walkChain(l->firstLinkAddress())), true);
}

TEST_F(ElfLoaderTest, WithoutSymbolsTheKernelLoadsAloneAndTheBoxFollowsSafetyMessage) {
  const Elf elf(saProbe());
  const std::uint32_t names = elf.sections[elf.shstrndx].offset;
  using Edit = std::function<void(Bytes&)>;
  struct Case {
    const char* name;
    Edit edit;
  };
  const Case cases[] = {
      {"no .symtab",
       [&](Bytes& b) { b[names + ce::getLe32(&b[elf.sh(elf.sectionIndex(".symtab"), 0)]) + 6] = 'X'; }},
      {"no .strtab",
       [&](Bytes& b) { b[names + ce::getLe32(&b[elf.sh(elf.sectionIndex(".strtab"), 0)]) + 1] = 'X'; }},
      {"no section headers", [](Bytes& b) { ce::putLe16(&b[48], 0); }},
      {"no section-name table", [](Bytes& b) { ce::putLe16(&b[50], 0); }},
  };
  for (const Case& c : cases) {
    for (std::uint32_t safety : {1u, 0u}) {
      SCOPED_TRACE(std::string(c.name) + (safety ? ", safety message on" : ", off"));
      Bytes bytes = elf.bytes;
      c.edit(bytes);
      settings().safetyMessage = safety;
      boxes_.clear();
      auto l = loader(bytes);
      ASSERT_TRUE(run(*l)) << narrow(console_.text);
      const std::u16string printed = console_.take();
      // Three segments, the last with a cleared part: four payloads of link overhead.
      std::uint32_t total = 0;
      for (const Elf::Segment& g : elf.segments) total += (g.filesz + 4095) & ~4095u;
      EXPECT_EQ(printed.rfind(fileSizes(elf) + fmt("+[extra: 0x3fc0] = 0x%x bytes\n", total + 4 * 4080), 0), 0u)
          << narrow(printed);
      EXPECT_EQ(printed.find(u"ksyms"), std::u16string::npos);
      if (safety)
        EXPECT_EQ(boxes_, std::vector<std::u16string>{u"Information|No symbol and/or string table in binary.\n(not fatal)|0x40"});
      else
        EXPECT_TRUE(boxes_.empty());
      expectLoadedAsTheFileSays(Elf(elf.bytes), load_test::Replay(load_test::walkChain(l->firstLinkAddress())), false);
    }
  }
}

TEST_F(ElfLoaderTest, TablesOutsideTheFileLeaveTheKernelWithoutKsyms) {
  const Elf elf(saProbe());
  const auto fileSize = static_cast<std::uint32_t>(elf.bytes.size());
  struct Case {
    const char* section;
    const char* what;
  };
  const Case cases[] = {{".symtab", "symbol table"}, {".strtab", "string table"}, {".shstrtab", "section name table"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    Bytes bytes = elf.bytes;
    const std::uint32_t i = elf.sectionIndex(c.section);
    ce::putLe32(&bytes[elf.sh(i, 16)], 0xFFFFFF00);
    auto l = loader(bytes);
    ASSERT_TRUE(run(*l));
    // The size line whole, then the line about the table on a line of its own.
    const std::u16string line =
        fmt("%s 0xffffff00+0x%x is beyond the end of the file (0x%x).\n", c.what, elf.sections[i].size, fileSize);
    const std::u16string printed = console_.take();
    EXPECT_EQ(printed.rfind(fileSizes(elf) + u"+[extra: 0x", 0), 0u) << narrow(printed);
    const std::size_t end = printed.find(u" bytes\n");
    ASSERT_NE(end, std::u16string::npos);
    EXPECT_EQ(printed.substr(end + 7, line.size()), line) << narrow(printed);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(l->symbolsPresent());
  }
}

TEST_F(ElfLoaderTest, NoMemoryForTheKsymsHeaderIsAWarningNotAFailure) {
  auto l = loader(saProbe());
  ASSERT_TRUE(setFile(*l));
  handheld_.faults().heapFailAt = 1;  // the ksyms header
  const std::uint32_t size = l->memorySize();
  handheld_.faults().heapFailAt = 0;
  EXPECT_EQ(boxes_, std::vector<std::u16string>{u"WARNING|Can't determine symbol block size.|0x30"});
  EXPECT_FALSE(l->symbolsPresent());
  ASSERT_TRUE(manager_->reservePages(size));
  EXPECT_TRUE(l->load());
}

TEST_F(ElfLoaderTest, AReadThatComesShortFailsTheLoad) {
  auto file = std::make_unique<MemoryFile>(&consolePointer_, saProbe());
  file->shortFrom = 0x50000;  // inside .rodata; the size is still the whole file's
  file->shortUntil = 0x60000;
  auto l = loader(std::move(file));
  EXPECT_FALSE(run(*l));
  const std::u16string printed = console_.take();
  EXPECT_NE(printed.find(u"can't read kernel image.\n"), std::u16string::npos) << narrow(printed);
  EXPECT_EQ(printed.find(u"seg[2]"), std::u16string::npos);  // nothing after the failure
}

// Destinations are checked where the family's second stage writes them, against the DRAM banks
// its architecture registered: no segment or symbol block outside them, none on another, and
// an entry point inside a segment.
TEST_F(ElfLoaderTest, DestinationsOutsideMemoryOnEachOtherOrWithoutTheEntryAreRefused) {
  const Elf elf(saProbe());
  const Elf::Segment& text = elf.segments[0];
  const Elf::Segment& data = elf.segments[2];
  using Edit = std::function<void(Bytes&)>;
  auto put32 = [](std::uint32_t at, std::uint32_t v) { return [=](Bytes& b) { ce::putLe32(&b[at], v); }; };
  auto both = [](Edit a, Edit b) { return [=](Bytes& bytes) { a(bytes), b(bytes); }; };
  struct Case {
    const char* name;
    bool pxa;  // the PXA-2x0's banks and window, else the SA-11x0's
    Edit edit;
    bool atSetFile;  // refused by setFile; else by memorySize (the symbol block)
    std::u16string printed;
  };
  // The last segment moved so that it ends where the last SA-11x0 bank does.
  const std::uint32_t topOfBanks = 0xE0000000u;
  const std::uint32_t dataAtTop = topOfBanks - roundUp4(data.memsz);
  const std::uint32_t rodataPxa = elf.segments[1].paddr - 0xC0000000u + 0xA0000000u;
  const Case cases[] = {
      {"I/O space", false, put32(elf.ph(0, 12), 0x80000000), true,
       fmt("segment 0: 0x80000000+0x%x is outside memory.\n", roundUp4(text.memsz))},
      {"ROM at 0", false, put32(elf.ph(1, 12), 0), true,
       fmt("segment 1: 0x00000000+0x%x is outside memory.\n", roundUp4(elf.segments[1].memsz))},
      {"across the end of the banks", false, put32(elf.ph(2, 12), topOfBanks - 0x1000), true,
       fmt("segment 2: 0xdffff000+0x%x is outside memory.\n", roundUp4(data.memsz))},
      {"on another segment", false, put32(elf.ph(2, 12), text.paddr + 0x100), true,
       fmt("segment 2: 0x%08x+0x%x overlaps segment 0.\n", text.paddr + 0x100, roundUp4(data.memsz))},
      {"entry in no segment", false, put32(24, 0xC0000000), true, u"entry point 0xc0000000 is in no loaded segment.\n"},
      {"symbol block past the banks", false, put32(elf.ph(2, 12), dataAtTop), false, u"symbol block: "},
      // The PXA-2x0 keeps the low 24 bits: 0xa1200000 lands on 0xa0200000.
      {"folded onto another segment", true, put32(elf.ph(2, 12), 0xA1200000), true,
       fmt("segment 2: 0xa0200000+0x%x overlaps segment 0.\n", roundUp4(data.memsz))},
      {"folded onto itself", true, put32(elf.ph(1, 20), 0x01000004), true,
       fmt("segment 1: 0x%08x+0x1000004 lands on itself in memory.\n", rodataPxa)},
      {"the window's bank only", true, both(put32(elf.ph(0, 12), text.paddr), put32(24, text.paddr)), true, u""},
  };
  // The PXA-2x0 cases start from the kernel moved from 0xc0000000 to 0xa0000000 and up.
  auto toPxa = [&](Bytes& b) {
    for (std::uint32_t i = 0; i < elf.phnum; ++i) {
      ce::putLe32(&b[elf.ph(i, 12)], elf.segments[i].paddr - 0xC0000000u + 0xA0000000u);
    }
    ce::putLe32(&b[24], text.paddr - 0xC0000000u + 0xA0000000u);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = elf.bytes;
    if (c.pxa) toPxa(bytes);
    c.edit(bytes);
    auto l = loader(bytes);
    std::unique_ptr<Architecture> family;
    if (c.pxa) {
      family = std::make_unique<PXA2x0Architecture>(&consolePointer_, &memoryPointer_);
      for (std::uint32_t base : PXA2x0Architecture::Banks) manager_->addBank(base, PXA2x0Architecture::BankSize);
    } else {
      family = std::make_unique<SA11x0Architecture>(&consolePointer_, &memoryPointer_);
      for (std::uint32_t base : SA11x0Architecture::Banks) manager_->addBank(base, SA11x0Architecture::BankSize);
    }
    l->setDestinationMap(family.get());
    console_.take();
    if (std::string(c.name) == "the window's bank only") {
      // Where the file says does not matter on the PXA-2x0: where the window puts it does.
      EXPECT_TRUE(setFile(*l)) << narrow(console_.text);
      continue;
    }
    if (c.atSetFile) {
      EXPECT_FALSE(setFile(*l));
      EXPECT_EQ(console_.take(), c.printed);
      continue;
    }
    ASSERT_TRUE(setFile(*l)) << narrow(console_.text);
    EXPECT_EQ(l->memorySize(), 0xFFFFFFFFu);
    const std::u16string printed = console_.take();
    // The size line whole, then the one line that names the block and its range.
    const std::size_t line = printed.find(u" bytes\n");
    ASSERT_NE(line, std::u16string::npos) << narrow(printed);
    EXPECT_EQ(printed.substr(line + 7, c.printed.size()), c.printed) << narrow(printed);
    EXPECT_NE(printed.find(u"is outside memory.\n", line), std::u16string::npos) << narrow(printed);
  }
}

TEST_F(ElfLoaderTest, AnEntryInASegmentsVirtualRangeIsAccepted) {
  // Linked to run at 0x8000, loaded at 0xc0200000: the entry is given as the link address.
  Bytes bytes = saProbe();
  const Elf elf(bytes);
  ce::putLe32(&bytes[elf.ph(0, 8)], 0x8000);
  ce::putLe32(&bytes[24], 0x8010);
  auto l = loader(bytes);
  for (std::uint32_t base : SA11x0Architecture::Banks) manager_->addBank(base, SA11x0Architecture::BankSize);
  console_.take();
  EXPECT_TRUE(setFile(*l)) << narrow(console_.text);
}

}  // namespace
}  // namespace kestrel
