#include "tests/load/load_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/bytes.h"
#include "platform/handheld/physical_memory.h"

namespace kestrel::load_test {

namespace {

kestrel_testing::HandheldOptions withPageOrder(const std::string& order) {
  kestrel_testing::HandheldOptions o;
  o.extraIni = "page_order = " + order + "\n";
  return o;
}

}  // namespace

LoadTest::LoadTest(const std::string& pageOrder) : handheld_(withPageOrder(pageOrder)) {}

void LoadTest::newMemoryManager() {
  manager_ = std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, &consolePointer_,
                                                      4096, 0);
  memoryPointer_ = manager_.get();
}

std::vector<Link> walkChain(std::uint32_t first) {
  handheld::PhysicalMemory& memory = handheld::physicalMemory();
  std::vector<Link> links;
  std::uint32_t at = first;
  // Far more links than any test records: a chain this long has a loop.
  for (int guard = 0; guard < 100000; ++guard) {
    std::uint8_t raw[16];
    if (at % 16 != 0 || !memory.read(at, raw, sizeof raw)) {
      ADD_FAILURE() << "link at 0x" << std::hex << at << " is not a link in DRAM";
      return links;
    }
    Link l{at, ce::getLe32(raw), ce::getLe32(raw + 4), ce::getLe32(raw + 8), ce::getLe32(raw + 12)};
    links.push_back(l);
    if (l.next == 0xFFFFFFFFu) return links;
    at = l.next;
  }
  ADD_FAILURE() << "the chain does not end";
  return links;
}

Replay::Replay(const std::vector<Link>& links) {
  std::uint64_t lo = ~std::uint64_t{0}, hi = 0;
  for (const Link& l : links) {
    if (l.length == 0) continue;
    lo = std::min<std::uint64_t>(lo, l.destination);
    hi = std::max<std::uint64_t>(hi, std::uint64_t{l.destination} + l.length);
  }
  if (hi == 0) return;
  low_ = static_cast<std::uint32_t>(lo);
  high_ = static_cast<std::uint32_t>(hi);
  image_.assign(hi - lo, 0);
  written_.assign(hi - lo, false);
  handheld::PhysicalMemory& memory = handheld::physicalMemory();
  for (const Link& l : links) {
    if (l.length == 0) continue;
    std::uint8_t* to = image_.data() + (l.destination - lo);
    if (l.zero()) {
      std::fill_n(to, l.length, 0);
    } else {
      EXPECT_TRUE(memory.read(l.source, to, l.length)) << "source 0x" << std::hex << l.source;
    }
    std::fill_n(written_.begin() + (l.destination - lo), l.length, true);
  }
}

bool Replay::covered(std::uint32_t address, std::uint32_t length) const {
  if (address < low_ || std::uint64_t{address} + length > high_) return false;
  return std::all_of(written_.begin() + (address - low_), written_.begin() + (address - low_ + length),
                     [](bool b) { return b; });
}

Bytes Replay::bytes(std::uint32_t address, std::uint32_t length) const {
  if (address < low_ || std::uint64_t{address} + length > high_) return {};
  return Bytes(image_.begin() + (address - low_), image_.begin() + (address - low_ + length));
}

}  // namespace kestrel::load_test
