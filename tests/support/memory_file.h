// A file in memory behind the FileManager interface: the one in-memory source of the tests,
// the fuzz targets and the benchmarks. Header-only, so that programs without GoogleTest (the
// fuzz targets) take it too.
//
// Reads hand out at most `piece` bytes each (0: all that is asked for), which puts a reader's
// buffer refills anywhere in the data. A damaged stretch [shortFrom, shortUntil) makes a read
// that touches it deliver only the bytes before it, or -1 when `failHard` is set. A read while
// the file is not open is -1 when `requireOpen` is set.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "file/file_manager.h"

namespace kestrel_testing {

class MemoryFile : public kestrel::FileManager {
 public:
  MemoryFile(kestrel::ConsoleSlot console, std::vector<std::uint8_t> content, std::uint32_t piece = 0)
      : FileManager(console), content_(std::move(content)), piece_(piece) {}
  MemoryFile(kestrel::ConsoleSlot console, const std::uint8_t* data, std::size_t size, std::uint32_t piece = 0)
      : MemoryFile(console, std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 0xFFFFFFFFu)), piece) {}

  bool setRoot(const char16_t*) override { return true; }
  bool open(const char16_t*) override {
    at_ = 0;
    open_ = true;
    return true;
  }
  std::uint32_t size() override { return static_cast<std::uint32_t>(content_.size()); }
  void close() override { open_ = false; }
  std::int32_t read(void* buffer, std::uint32_t length, std::uint32_t offset) override {
    if (requireOpen && !open_) return -1;
    if (offset == CurrentPosition) offset = static_cast<std::uint32_t>(std::min<std::uint64_t>(at_, 0xFFFFFFFFu));
    if (offset >= content_.size()) return 0;
    std::uint32_t n = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(content_.size() - offset));
    if (piece_ != 0) n = std::min(n, piece_);
    if (std::uint64_t{offset} + n > shortFrom && offset < shortUntil) {
      if (failHard) return -1;
      n = shortFrom > offset ? shortFrom - offset : 0;
    }
    std::memcpy(buffer, content_.data() + offset, n);
    at_ = std::uint64_t{offset} + n;
    return static_cast<std::int32_t>(n);
  }
  std::int32_t write(const void*, std::uint32_t, std::uint32_t) override { return -1; }
  bool seek(std::uint32_t offset) override {
    at_ = offset;
    return true;
  }

  bool isOpen() const { return open_; }

  std::uint32_t shortFrom = 0xFFFFFFFFu, shortUntil = 0xFFFFFFFFu;
  bool failHard = false;
  bool requireOpen = false;

 private:
  std::vector<std::uint8_t> content_;
  std::uint32_t piece_;
  std::uint64_t at_ = 0;
  bool open_ = false;
};

}  // namespace kestrel_testing
