#include "tests/file/file_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace kestrel::file_test {

namespace fs = std::filesystem;

Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

int run(const std::string& command) {
  const int status = std::system(command.c_str());
#if defined(_WIN32)
  return status;
#else
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}

std::string quoted(const fs::path& path) {
  std::string q = "'";
  for (char c : path.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

ScratchDir::ScratchDir() {
  std::random_device random;
  for (;;) {
    path_ = fs::temp_directory_path() / ("kestrel-file-" + std::to_string(random()));
    if (fs::create_directory(path_)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

Bytes kernelLike(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  // A small vocabulary of instruction words: code compresses to about a third, as a kernel's does.
  std::uint32_t words[64];
  for (auto& w : words) w = random();
  static const char prose[] = "panic: cannot mount root device; boot from the storage card and try again. ";
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const std::size_t run = 512 + random() % 4096;
    switch (random() % 4) {
      case 0:
      case 1:
        for (std::size_t i = 0; i < run / 4; ++i) {
          std::uint32_t w = words[random() % 64] ^ (random() % 16 == 0 ? random() & 0xFFF : 0);
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
        }
        break;
      case 2:
        for (std::size_t i = 0; i < run; ++i) out.push_back(static_cast<std::uint8_t>(prose[i % (sizeof prose - 1)]));
        break;
      default:
        out.insert(out.end(), run, 0);
        break;
    }
  }
  out.resize(size);
  return out;
}

Bytes compressWith(const std::string& pipeline, const Bytes& content, const ScratchDir& dir) {
  static int serial = 0;
  const std::string stem = "tool" + std::to_string(++serial);
  const fs::path in = dir / stem, out = dir / (stem + ".gz");
  writeBytes(in, content);
  std::string command = pipeline;
  for (auto [key, value] : {std::pair{std::string("IN"), quoted(in)}, std::pair{std::string("OUT"), quoted(out)}}) {
    for (std::size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
  }
  EXPECT_EQ(run(command), 0) << command;
  return readBytes(out);
}

}  // namespace kestrel::file_test
