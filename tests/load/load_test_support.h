// Helpers of the loader tests: the fixture they share (a handheld, a console that keeps what
// is printed, a LockPages memory manager), a file in memory whose reads can be cut short, the
// chain walked through the handheld's physical memory, and the memory a second stage would
// leave behind after following it.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file/file_manager.h"
#include "tests/support/memory_file.h"
#include "memory/lock_pages_memory_manager.h"
#include "tests/support/capture_console.h"
#include "tests/support/handheld_fixture.h"
#include "tests/support/host_files.h"

namespace kestrel::load_test {

using kestrel_testing::Bytes;
using kestrel_testing::CaptureConsole;
using kestrel_testing::readBytes;

// A handheld whose regions get frames in `pageOrder`, and the console and memory manager a
// loader reaches through the slots.
class LoadTest : public ::testing::Test {
 protected:
  explicit LoadTest(const std::string& pageOrder);
  // A fresh memory manager in the slot; the old one goes once the new one exists.
  void newMemoryManager();

  kestrel_testing::TempHandheld handheld_;
  CaptureConsole console_;
  Console* consolePointer_ = &console_;
  std::unique_ptr<LockPagesMemoryManager> manager_;
  MemoryManager* memoryPointer_ = nullptr;
};

// The shared in-memory file: a damaged stretch [shortFrom, shortUntil) makes a read that
// touches it deliver only the bytes before it, or fail with -1 when `failHard` is set.
using MemoryFile = kestrel_testing::MemoryFile;

struct Link {
  std::uint32_t at, next, source, destination, length;
  bool zero() const { return source == 0xFFFFFFFFu; }
};

// The links from `first` to the one whose next is 0xFFFFFFFF, read by physical address from
// the current handheld. Fails the test on a link outside DRAM or off a 16-byte boundary, and
// on a chain that does not end.
std::vector<Link> walkChain(std::uint32_t first);

// What the second stage leaves in memory after following `links`: copies and clears in chain
// order into a picture of the destination range.
class Replay {
 public:
  explicit Replay(const std::vector<Link>& links);
  // True when every byte of [address, address + length) was written by some link.
  bool covered(std::uint32_t address, std::uint32_t length) const;
  Bytes bytes(std::uint32_t address, std::uint32_t length) const;
  std::uint32_t low() const { return low_; }
  std::uint32_t high() const { return high_; }

 private:
  std::uint32_t low_ = 0, high_ = 0;
  Bytes image_;
  std::vector<bool> written_;
};

}  // namespace kestrel::load_test
