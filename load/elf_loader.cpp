#include "load/elf_loader.h"

#include <cstring>

#include "common/message_box.h"
#include "platform/bytes.h"
#include "platform/format.h"
#include "platform/message_box.h"

namespace kestrel {

namespace {

// ELF header fields.
constexpr std::uint32_t EiClass = 4, EiData = 5;
constexpr std::uint32_t EType = 16, EMachine = 18, EEntry = 24, EPhoff = 28, EShoff = 32;
constexpr std::uint32_t EPhentsize = 42, EPhnum = 44, EShentsize = 46, EShnum = 48, EShstrndx = 50;
constexpr std::uint32_t ElfClass32 = 1, ElfData2Lsb = 1, MachineArm = 40, TypeExecutable = 2;
// Program header fields.
constexpr std::uint32_t PType = 0, POffset = 4, PVaddr = 8, PPaddr = 12, PFilesz = 16, PMemsz = 20;
constexpr std::uint32_t PtLoad = 1;
// Section header fields.
constexpr std::uint32_t ShName = 0, ShOffset = 16, ShSize = 20;

std::uint64_t roundUp(std::uint64_t value, std::uint64_t unit) { return (value + unit - 1) / unit * unit; }

// True when [offset, offset + size) lies inside a file of `fileSize` bytes.
bool inFile(std::uint32_t offset, std::uint32_t size, std::uint32_t fileSize) {
  return std::uint64_t{offset} + size <= fileSize;
}

}  // namespace

ElfLoader::ElfLoader(ConsoleSlot console, MemoryManagerSlot memory) : Loader(console, memory) {
  this->console().print(u"Loader: ELF\n");
}

ElfLoader::~ElfLoader() = default;

std::uint32_t ElfLoader::field16(std::uint32_t offset) const { return ce::getLe16(header_ + offset); }
std::uint32_t ElfLoader::field32(std::uint32_t offset) const { return ce::getLe32(header_ + offset); }

ElfLoader::Segment ElfLoader::segment(std::uint32_t i) const {
  const std::uint8_t* p = programHeaders_.get() + i * ProgramHeaderBytes;
  return {ce::getLe32(p + PType),   ce::getLe32(p + POffset), ce::getLe32(p + PVaddr),
          ce::getLe32(p + PPaddr),  ce::getLe32(p + PFilesz), ce::getLe32(p + PMemsz)};
}

bool ElfLoader::setFile(FileManagerSlot slot) {
  Loader::setFile(slot);
  programHeaders_.reset();
  sectionHeaders_.reset();
  ksymsHeader_.reset();
  symbolsPresent_ = false;
  std::memset(header_, 0, sizeof header_);
  FileManager* f = file();
  if (!f) return false;
  // Asked first, while the file is still at its start. All ones is the file manager's word
  // for a file it cannot read to its end (a compressed member whose data or trailer does not
  // check): taken as a size it would make every bounds check below pass.
  fileSize_ = f->realSize();
  if (fileSize_ == DamagedSize) {
    console().print(u"kernel file is damaged: it can't be read to its end.\n");
    return false;
  }

  f->read(header_, HeaderBytes, 0);
  if (header_[0] != 0x7F || header_[1] != 'E' || header_[2] != 'L' || header_[3] != 'F') {
    console().print(u"not a ELF file.\n");
    return false;
  }
  if (header_[EiData] != ElfData2Lsb || header_[EiClass] != ElfClass32) {
    console().print(u"invalid class/data(%d/%d)\n", header_[EiClass], header_[EiData]);
    return false;
  }
  if (field16(EMachine) != MachineArm) {
    console().print(u"not a native architecture. machine = %d\n", field16(EMachine));
    return false;
  }
  if (field16(EType) != TypeExecutable) {
    console().print(u"not a executable file. type = %d\n", field16(EType));
    return false;
  }
  const std::uint32_t phoff = field32(EPhoff), phnum = field16(EPhnum), phentsize = field16(EPhentsize);
  if (phoff == 0 || phnum == 0 || phnum > MaxProgramHeaders || phentsize != ProgramHeaderBytes) {
    console().print(u"invalid program header information.\n");
    return false;
  }
  const std::uint32_t phBytes = phnum * phentsize;
  if (!inFile(phoff, phBytes, fileSize_)) {
    console().print(u"program header table 0x%x+0x%x is beyond the end of the file (0x%x).\n", phoff, phBytes,
                    fileSize_);
    return false;
  }
  const std::uint32_t shoff = field32(EShoff), shnum = field16(EShnum), shentsize = field16(EShentsize);
  const std::uint32_t shstrndx = field16(EShstrndx);
  const std::uint32_t shBytes = shnum * shentsize;  // at most 65535 * 65535: no wrap
  if (shnum > 0) {
    if (shentsize != SectionHeaderBytes || shstrndx >= shnum) {
      console().print(u"invalid section header information.\n");
      return false;
    }
    if (!inFile(shoff, shBytes, fileSize_)) {
      console().print(u"section header table 0x%x+0x%x is beyond the end of the file (0x%x).\n", shoff, shBytes,
                      fileSize_);
      return false;
    }
    sectionHeaders_.reset(ce::heapNewArray<std::uint8_t>(shBytes));
    if (!sectionHeaders_) {
      console().print(u"can't allocate section header table.\n");
      return false;
    }
    std::int32_t got = f->read(sectionHeaders_.get(), shBytes, shoff);
    if (got < 0 || static_cast<std::uint32_t>(got) < shBytes) {
      console().print(u"section header read error.\n");
      sectionHeaders_.reset();
      return false;
    }
  }
  programHeaders_.reset(ce::heapNewArray<std::uint8_t>(phBytes));
  if (!programHeaders_) {
    console().print(u"can't allocate program header table.\n");
    return false;
  }
  std::int32_t got = f->read(programHeaders_.get(), phBytes, phoff);
  if (got < 0 || static_cast<std::uint32_t>(got) < phBytes) {
    console().print(u"program header read error.\n");
    programHeaders_.reset();
    return false;
  }
  if (!checkSegments() || !checkDestinations()) {
    programHeaders_.reset();
    return false;
  }
  return true;
}

bool ElfLoader::place(std::vector<Placed>& out, int segment, std::uint64_t start, std::uint64_t length) const {
  std::vector<AddressRange> pieces;
  destinationMap().addDestination(pieces, start, length);
  std::uint64_t written = 0;
  for (const AddressRange& r : pieces) {
    out.push_back({r, segment});
    written += r.length;
  }
  // The words the chain asks for, and fewer where they land: some land on the same bytes.
  return written >= roundUp(start + length, 4) - start;
}

bool ElfLoader::checkPlaced(const std::vector<Placed>& placed, std::size_t from) {
  for (std::size_t k = from; k < placed.size(); ++k) {
    const Placed& p = placed[k];
    const std::uint32_t start = p.range.start, length = p.range.length;
    // A loader used outside a boot may have no banks to check against; a boot always has them
    // (the architecture registers them at step 2, before the kernel is opened).
    if (memory().bankCount() > 0 && !insideBanks(memory(), p.range)) {
      if (p.segment < 0) {
        console().print(u"symbol block: 0x%08x+0x%x is outside memory.\n", start, length);
      } else {
        console().print(u"segment %d: 0x%08x+0x%x is outside memory.\n", p.segment, start, length);
      }
      return false;
    }
    for (std::size_t j = 0; j < k; ++j) {
      const Placed& q = placed[j];
      if (q.segment == p.segment && q.segment >= 0) continue;  // pieces of one segment: see place
      const std::uint64_t qEnd = std::uint64_t{q.range.start} + q.range.length;
      if (start < qEnd && q.range.start < std::uint64_t{start} + length) {
        if (p.segment < 0) {
          console().print(u"symbol block: 0x%08x+0x%x overlaps segment %d.\n", start, length, q.segment);
        } else {
          console().print(u"segment %d: 0x%08x+0x%x overlaps segment %d.\n", p.segment, start, length, q.segment);
        }
        return false;
      }
    }
  }
  return true;
}

bool ElfLoader::checkDestinations() {
  const std::uint32_t phnum = field16(EPhnum), entry = field32(EEntry);
  std::vector<Placed> placed;
  bool entryFound = false;
  for (std::uint32_t i = 0; i < phnum; ++i) {
    Segment s = segment(i);
    if (s.type != PtLoad || s.memsz == 0) continue;
    if (!place(placed, static_cast<int>(i), s.paddr, s.memsz)) {
      console().print(u"segment %d: 0x%08x+0x%x lands on itself in memory.\n", i, s.paddr, s.memsz);
      return false;
    }
    // The entry as the file gives it, against the segment's physical and its virtual range.
    if ((entry >= s.paddr && entry - s.paddr < s.memsz) || (entry >= s.vaddr && entry - s.vaddr < s.memsz)) {
      entryFound = true;
    }
  }
  if (!checkPlaced(placed, 0)) return false;
  if (!entryFound) {
    console().print(u"entry point 0x%08x is in no loaded segment.\n", entry);
    return false;
  }
  placed_ = std::move(placed);
  return true;
}

// Each loadable segment must come from inside the file, fit its memory size, and land on a
// word boundary below 4 GiB: the second stage copies and clears word by word.
bool ElfLoader::checkSegments() {
  const std::uint32_t phnum = field16(EPhnum);
  for (std::uint32_t i = 0; i < phnum; ++i) {
    Segment s = segment(i);
    if (s.type != PtLoad) continue;
    if (s.filesz > s.memsz) {
      console().print(u"segment %d: file size 0x%x exceeds memory size 0x%x.\n", i, s.filesz, s.memsz);
      return false;
    }
    if (s.paddr % 4 != 0) {
      console().print(u"segment %d: paddr 0x%08x is not word aligned.\n", i, s.paddr);
      return false;
    }
    if (s.filesz > 0 && !inFile(s.offset, s.filesz, fileSize_)) {
      console().print(u"segment %d: file data 0x%x+0x%x is beyond the end of the file (0x%x).\n", i, s.offset,
                      s.filesz, fileSize_);
      return false;
    }
    if (std::uint64_t{s.paddr} + s.memsz > 0xFFFFFFFFull) {
      console().print(u"segment %d: 0x%08x+0x%x wraps around the address space.\n", i, s.paddr, s.memsz);
      return false;
    }
  }
  return true;
}

bool ElfLoader::ksymsAddress(std::uint64_t& address) const {
  bool found = false;
  const std::uint32_t phnum = field16(EPhnum);
  for (std::uint32_t i = 0; programHeaders_ && i < phnum; ++i) {
    Segment s = segment(i);
    if (s.type != PtLoad) continue;
    // checkSegments keeps paddr + memsz below 4 GiB; rounding up can reach it at the very top.
    address = s.paddr + roundUp(s.memsz, 4);
    found = true;
  }
  return found;
}

void ElfLoader::noSymbols() {
  if (safetyMessagesWanted()) {
    ownedMessageBox(u"No symbol and/or string table in binary.\n(not fatal)", u"Information",
                    ce::MbOk | ce::MbIconInformation);
  }
}

std::uint32_t ElfLoader::prepareKsyms() {
  symbolsPresent_ = false;
  ksymsHeader_.reset();
  ksymsHeaderSize_ = 0;
  stringTableHeader_ = stringTableOffset_ = symbolTableHeader_ = symbolTableOffset_ = 0;

  std::uint64_t address;
  if (!ksymsAddress(address)) return 0;  // nothing to put it behind
  const std::uint32_t shnum = field16(EShnum), shstrndx = field16(EShstrndx);
  if (shnum == 0 || shstrndx == 0 || !sectionHeaders_) {
    noSymbols();
    return 0;
  }
  const std::uint32_t tableBytes = shnum * SectionHeaderBytes;
  const std::uint8_t* names = sectionHeaders_.get() + shstrndx * SectionHeaderBytes;
  const std::uint32_t namesOffset = ce::getLe32(names + ShOffset), namesSize = ce::getLe32(names + ShSize);
  if (!inFile(namesOffset, namesSize, fileSize_)) {
    note(u"section name table 0x%x+0x%x is beyond the end of the file (0x%x).\n", namesOffset,
                    namesSize, fileSize_);
    return 0;
  }
  const std::uint64_t namesBytes = roundUp(namesSize, 4);
  const std::uint64_t blockHeaderBytes = HeaderBytes + tableBytes + namesBytes;
  if (blockHeaderBytes > 0xFFFFFFFFull) return 0;  // cannot happen for a file below 4 GiB; keeps the arithmetic honest

  ksymsHeader_.reset(static_cast<std::uint8_t*>(ce::LocalAlloc(ce::Lptr, static_cast<std::size_t>(blockHeaderBytes))));
  if (!ksymsHeader_) {
    ownedMessageBox(u"Can't determine symbol block size.", u"WARNING", ce::MbOk | ce::MbIconExclamation);
    return 0;
  }
  std::uint8_t* block = ksymsHeader_.get();
  std::memcpy(block, header_, HeaderBytes);
  ce::putLe32(block + EEntry, 0);
  ce::putLe32(block + EPhoff, 0);
  ce::putLe16(block + EPhnum, 0);
  ce::putLe32(block + EShoff, HeaderBytes);
  std::memcpy(block + HeaderBytes, sectionHeaders_.get(), tableBytes);
  // The rounded-up tail is whatever follows the table in the file (zeros past its end).
  file()->read(block + HeaderBytes + tableBytes, static_cast<std::uint32_t>(namesBytes), namesOffset);

  const std::uint8_t* table = block + HeaderBytes + tableBytes;
  auto nameIs = [&](std::uint32_t at, const char* want) {
    std::size_t len = std::strlen(want);
    return std::uint64_t{at} + len < namesBytes && std::memcmp(table + at, want, len + 1) == 0;
  };
  bool haveStrtab = false, haveSymtab = false;
  for (std::uint32_t i = 0; i < shnum; ++i) {
    std::uint8_t* sh = block + HeaderBytes + i * SectionHeaderBytes;
    const std::uint32_t name = ce::getLe32(sh + ShName);
    const std::uint32_t headerAt = HeaderBytes + i * SectionHeaderBytes;
    if (nameIs(name, ".strtab")) {
      stringTableHeader_ = headerAt;
      stringTableOffset_ = ce::getLe32(sh + ShOffset);
      haveStrtab = true;
    } else if (nameIs(name, ".symtab")) {
      symbolTableHeader_ = headerAt;
      symbolTableOffset_ = ce::getLe32(sh + ShOffset);
      haveSymtab = true;
    }
    ce::putLe32(sh + ShOffset, i == shstrndx ? HeaderBytes + tableBytes : 0);
  }

  if (!haveStrtab || !haveSymtab) {
    noSymbols();
    ksymsHeader_.reset();
    return 0;
  }
  const std::uint32_t symSize = ce::getLe32(block + symbolTableHeader_ + ShSize);
  const std::uint32_t strSize = ce::getLe32(block + stringTableHeader_ + ShSize);
  if (!inFile(symbolTableOffset_, symSize, fileSize_)) {
    note(u"symbol table 0x%x+0x%x is beyond the end of the file (0x%x).\n", symbolTableOffset_, symSize,
                    fileSize_);
    ksymsHeader_.reset();
    return 0;
  }
  if (!inFile(stringTableOffset_, strSize, fileSize_)) {
    note(u"string table 0x%x+0x%x is beyond the end of the file (0x%x).\n", stringTableOffset_, strSize,
                    fileSize_);
    ksymsHeader_.reset();
    return 0;
  }
  const std::uint64_t symbolBytes = roundUp(symSize, 4);
  const std::uint64_t blockBytes = blockHeaderBytes + symbolBytes + strSize;
  if (address + blockBytes > 0xFFFFFFFFull) {
    note(u"no room for the symbol block at 0x%08x.\n", static_cast<std::uint32_t>(address));
    ksymsHeader_.reset();
    return 0;
  }
  ce::putLe32(block + symbolTableHeader_ + ShOffset, static_cast<std::uint32_t>(blockHeaderBytes));
  ce::putLe32(block + stringTableHeader_ + ShOffset, static_cast<std::uint32_t>(blockHeaderBytes + symbolBytes));
  ksymsHeaderSize_ = static_cast<std::uint32_t>(blockHeaderBytes);
  symbolsPresent_ = true;
  console().print(u"+[ksyms: header 0x%x, symtab 0x%x, strtab 0x%x", ksymsHeaderSize_, symSize, strSize);
  return static_cast<std::uint32_t>(blockBytes);
}

std::uint32_t ElfLoader::memorySize() {
  const std::uint64_t pageBytes = memory().pageSize(), payload = pageBytes - ChainLinkBytes;
  console().print(u"file size: ");
  std::uint64_t total = 0, extra = 0;
  const std::uint32_t phnum = programHeaders_ ? field16(EPhnum) : 0;
  for (std::uint32_t i = 0; i < phnum; ++i) {
    Segment s = segment(i);
    if (s.type != PtLoad) continue;
    console().print(u"%s0x%x", total == 0 ? u"" : u"+", s.filesz);
    total += roundUp(s.filesz, pageBytes);
    extra += payload;
    if (s.filesz < s.memsz) extra += payload;
  }
  if (programHeaders_) {
    const std::uint32_t blockBytes = prepareKsyms();
    if (blockBytes > 0) {
      total += blockBytes;
      console().print(u" = 0x%x]", blockBytes);
      extra += 2 * payload;
    }
  }
  // Saturates: a request this large fails in reservePages rather than wrapping to a small one.
  const std::uint64_t sum = total + extra;
  const std::uint32_t result = sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(sum);
  console().print(u"+[extra: 0x%x]", static_cast<std::uint32_t>(extra > 0xFFFFFFFFull ? 0xFFFFFFFFu : extra));
  console().print(u" = 0x%x bytes\n", result);
  // What went wrong with the symbol tables, now that the size line is whole.
  if (note_[0] != 0) console().print(u"%s", note_);
  note_[0] = 0;
  if (symbolsPresent_) {
    // The block goes behind the last segment: it must be in memory too, and on no segment.
    std::vector<Placed> placed = placed_;
    const std::size_t from = placed.size();
    const std::vector<AddressRange> all = destinationRanges();
    const AddressRange block = all.back();
    if (!place(placed, -1, block.start, block.length)) {
      console().print(u"symbol block: 0x%08x+0x%x lands on itself in memory.\n", block.start, block.length);
      return 0xFFFFFFFFu;
    }
    if (!checkPlaced(placed, from)) return 0xFFFFFFFFu;
  }
  return result;
}

bool ElfLoader::load() {
  beginChain();
  if (!programHeaders_) return false;
  std::uint32_t ksyms = 0;
  const std::uint32_t phnum = field16(EPhnum);
  for (std::uint32_t i = 0; i < phnum && !failed(); ++i) {
    Segment s = segment(i);
    if (s.type != PtLoad) continue;
    console().print(u"seg[%d] paddr 0x%08x file size 0x%x mem size 0x%x\n", i, s.paddr, s.filesz, s.memsz);
    loadRegion(s.paddr, s.memsz, s.offset, s.filesz);
    ksyms = static_cast<std::uint32_t>(s.paddr + roundUp(s.memsz, 4));
  }
  if (symbolsPresent_ && !failed()) {
    const std::uint8_t* block = ksymsHeader_.get();
    const std::uint32_t symSize = ce::getLe32(block + symbolTableHeader_ + ShSize);
    const std::uint32_t strSize = ce::getLe32(block + stringTableHeader_ + ShSize);
    const std::uint32_t S = static_cast<std::uint32_t>(roundUp(symSize, 4));
    console().print(u"ksyms\n");
    loadBuffer(ksyms, ksymsHeaderSize_, block);
    loadRegion(ksyms + ksymsHeaderSize_, symSize, symbolTableOffset_, symSize);
    loadRegion(ksyms + ksymsHeaderSize_ + S, strSize, stringTableOffset_, strSize);
  }
  return !failed();
}

std::vector<AddressRange> ElfLoader::destinationRanges() const {
  std::vector<AddressRange> ranges;
  if (!programHeaders_) return ranges;
  std::uint32_t ksyms = 0;
  const std::uint32_t phnum = field16(EPhnum);
  for (std::uint32_t i = 0; i < phnum; ++i) {
    Segment s = segment(i);
    if (s.type != PtLoad) continue;
    ranges.push_back({s.paddr, s.memsz});
    ksyms = static_cast<std::uint32_t>(s.paddr + roundUp(s.memsz, 4));
  }
  if (symbolsPresent_) {
    // As load records it: header, symbol table rounded to words, string table.
    const std::uint8_t* block = ksymsHeader_.get();
    const std::uint64_t symSize = ce::getLe32(block + symbolTableHeader_ + ShSize);
    const std::uint64_t strSize = ce::getLe32(block + stringTableHeader_ + ShSize);
    const std::uint64_t size = ksymsHeaderSize_ + roundUp(symSize, 4) + strSize;
    ranges.push_back({ksyms, static_cast<std::uint32_t>(size > 0xFFFFFFFFull ? 0xFFFFFFFFull : size)});
  }
  return ranges;
}

std::uint32_t ElfLoader::entryAddress() {
  const std::uint32_t entry = field32(EEntry);
  console().print(u"kernel entry address: 0x%08x\n", entry);
  return entry;
}

}  // namespace kestrel
