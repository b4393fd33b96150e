#include "load/loader.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace kestrel {

namespace {
// The image goes to the next 4096-byte boundary, whatever the page size.
constexpr std::uint64_t ImageAlignment = 4096;
}  // namespace

Loader::Loader(ConsoleSlot console, MemoryManagerSlot memory) : console_(console), memory_(memory) {}

Loader::~Loader() = default;

bool Loader::setFile(FileManagerSlot file) {
  file_ = file ? *file : nullptr;
  return true;
}

bool Loader::isElfFile(FileManager& file) {
  std::uint8_t header[52] = {};
  std::int32_t n = file.read(header, sizeof header, 0);
  // The file is left at its start, where the loader's setFile measures what it delivers.
  file.seek(0);
  return n >= 4 && header[0] == 0x7F && header[1] == 'E' && header[2] == 'L' && header[3] == 'F';
}

void Loader::putLink(std::uintptr_t link, std::uint32_t next, std::uint32_t source, std::uint32_t destination,
                     std::uint32_t length) {
  auto* p = reinterpret_cast<std::uint8_t*>(link);
  ce::putLe32(p + 0, next);
  ce::putLe32(p + 4, source);
  ce::putLe32(p + 8, destination);
  ce::putLe32(p + 12, length);
}

void Loader::beginChain() {
  error_ = false;
  readError_ = false;
  loadLinks_ = 0;
  zeroLinks_ = 0;
  currentLink_ = previousLink_ = 0;
  poolVirtual_ = poolEnd_ = 0;
  poolPhysical_ = 0;
  firstLink_ = 0;
  payload_ = memory().pageSize() - ChainLinkBytes;

  std::uintptr_t dataVirtual, linkVirtual;
  std::uint32_t dataPhysical, linkPhysical;
  if (!memory().getLinkPage(dataVirtual, dataPhysical, linkVirtual, linkPhysical)) {
    error_ = true;
    return;
  }
  currentLink_ = linkVirtual;
  firstLink_ = linkPhysical;
  // The rest of the first page holds the zero-clear links.
  poolVirtual_ = dataVirtual;
  poolPhysical_ = dataPhysical;
  poolEnd_ = linkVirtual + memory().pageSize();
}

bool Loader::dataPage(std::uint32_t destination, std::uint32_t n, std::uint32_t fileOffset, const void* source) {
  if (failed()) return false;
  if (!currentLink_) {  // no chain was begun
    error_ = true;
    return false;
  }
  std::uintptr_t dataVirtual, linkVirtual;
  std::uint32_t dataPhysical, linkPhysical;
  if (!memory().getLinkPage(dataVirtual, dataPhysical, linkVirtual, linkPhysical)) {
    error_ = true;
    return false;
  }
  void* data = reinterpret_cast<void*>(dataVirtual);
  if (source) {
    std::memcpy(data, source, n);
  } else {
    std::int32_t got = file_ ? file_->read(data, n, fileOffset) : -1;
    if (got < 0 || static_cast<std::uint32_t>(got) != n) {
      console().print(readingImage_ ? u"can't read file system image.\n" : u"can't read kernel image.\n");
      readError_ = true;
      return false;
    }
  }
  putLink(currentLink_, linkPhysical, dataPhysical, destination, n);
  previousLink_ = currentLink_;
  currentLink_ = linkVirtual;
  ++loadLinks_;
  return true;
}

bool Loader::takePoolPage() {
  std::uintptr_t v;
  std::uint32_t p;
  if (!memory().getPage(v, p)) {
    error_ = true;
    return false;
  }
  poolVirtual_ = v;
  poolPhysical_ = p;
  poolEnd_ = v + memory().pageSize();
  return true;
}

void Loader::loadRegion(std::uint32_t destination, std::uint32_t memorySize, std::uint32_t fileOffset,
                        std::uint32_t fileSize) {
  console().print(u"\t->load 0x%08x+0x%08x=0x%08x ofs=0x%08x+0x%x\n", destination, memorySize,
                  destination + memorySize, fileOffset, fileSize);
  end_ = destination + memorySize;

  std::uint32_t to = destination, from = fileOffset, remaining = fileSize;
  while (remaining > 0) {
    std::uint32_t n = std::min(remaining, payload_);
    if (!dataPage(to, n, from, nullptr)) return;
    to += n;
    from += n;
    remaining -= n;
  }

  if (fileSize < memorySize) {
    if (failed()) return;
    if (!currentLink_) {
      error_ = true;
      return;
    }
    if (poolVirtual_ + ChainLinkBytes > poolEnd_ && !takePoolPage()) return;
    std::uint32_t zeroStart = destination + fileSize, zeroLength = memorySize - fileSize;
    putLink(currentLink_, poolPhysical_, ZeroSource, zeroStart, zeroLength);
    console().print(u"\t->zero 0x%08x+0x%08x=0x%08x\n", zeroStart, zeroLength, zeroStart + zeroLength);
    previousLink_ = currentLink_;
    currentLink_ = poolVirtual_;
    poolVirtual_ += ChainLinkBytes;
    poolPhysical_ += ChainLinkBytes;
    ++zeroLinks_;
  }
}

void Loader::loadBuffer(std::uint32_t destination, std::uint32_t size, const void* source) {
  console().print(u"\t->load 0x%08x+0x%08x=0x%08x\n", destination, size, destination + size);
  const auto* from = static_cast<const std::uint8_t*>(source);
  std::uint32_t to = destination, remaining = size;
  while (remaining > 0) {
    std::uint32_t n = std::min(remaining, payload_);
    if (!dataPage(to, n, 0, from)) break;
    to += n;
    from += n;
    remaining -= n;
  }
  end_ = destination + size;
}

bool Loader::loadImage() {
  if (!file_) return false;
  // The decompressed size: that is what read delivers.
  const std::uint32_t size = file_->realSize();
  if (size == DamagedSize) {
    console().print(u"file system image is damaged: it can't be read to its end.\n");
    return false;
  }
  const std::uint64_t destination = (std::uint64_t{end_} + ImageAlignment - 1) / ImageAlignment * ImageAlignment;
  console().print(u"[file system image]\n");
  if (destination + size > 0x100000000ull) {
    console().print(u"file system image doesn't fit below 4 GiB: 0x%08x+0x%08x\n",
                    static_cast<std::uint32_t>(destination), size);
    return false;
  }
  readingImage_ = true;
  loadRegion(static_cast<std::uint32_t>(destination), size, 0, size);
  readingImage_ = false;
  return !failed();
}

void Loader::finishChain() {
  if (previousLink_) {
    ce::putLe32(reinterpret_cast<std::uint8_t*>(previousLink_), ChainEnd);
  } else if (currentLink_) {
    // Nothing was recorded: the first link alone, an empty clear that ends the chain.
    putLink(currentLink_, ChainEnd, ZeroSource, 0, 0);
  }
  console().print(u"load link %d, zero clear link %d\n", loadLinks_, zeroLinks_);
}

}  // namespace kestrel
