// Helpers of the file tests: inputs made by the real tools in a scratch folder and an in-memory
// source that can hand out its bytes in small pieces; the console that keeps what is printed,
// the host file access and zlib's gzip writer come from tests/support.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "file/file_manager.h"
#include "tests/support/memory_file.h"
#include "tests/support/capture_console.h"
#include "tests/support/gzip_writer.h"
#include "tests/support/host_files.h"

namespace kestrel::file_test {

using kestrel_testing::Bytes;
using kestrel_testing::CaptureConsole;
using kestrel_testing::readBytes;
using kestrel_testing::writeBytes;
using kestrel_testing::zlibGzip;

Bytes concat(const Bytes& a, const Bytes& b);
Bytes text(const std::string& s);

// Runs a shell command; the exit status (-1 when it could not run).
int run(const std::string& command);
std::string quoted(const std::filesystem::path& path);

// A fresh folder, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Content that compresses like a kernel: runs of code-like words, text and zero fill, so the
// deflate stream has several blocks of different kinds.
Bytes kernelLike(std::size_t size, std::uint32_t seed = 1);

// Compresses `content` with a shell pipeline reading the file IN and writing OUT, e.g.
// "gzip -n -c IN > OUT"; fails the test when the tool fails.
Bytes compressWith(const std::string& pipeline, const Bytes& content, const ScratchDir& dir);

// The shared in-memory file, refusing reads while it is not open (as the gzip layer's source
// must be opened first). Reads hand out at most `piece` bytes each (0: all asked for).
class MemorySource : public kestrel_testing::MemoryFile {
 public:
  MemorySource(ConsoleSlot console, Bytes content, std::uint32_t piece = 0)
      : MemoryFile(console, std::move(content), piece) {
    requireOpen = true;
  }
};

}  // namespace kestrel::file_test
