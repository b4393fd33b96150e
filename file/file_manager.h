// The file interface every source of kernels and images implements.
#pragma once
#include <cstdint>

#include "console/console.h"

namespace kestrel {

class FileManager {
 public:
  explicit FileManager(ConsoleSlot console) : console_(console) {}
  virtual ~FileManager() = default;

  virtual bool setRoot(const char16_t* directory) = 0;
  virtual bool open(const char16_t* name) = 0;
  virtual std::uint32_t size() = 0;
  // Bytes that read delivers from the current position to the end (uncompressed for gzip).
  virtual std::uint32_t realSize() { return size(); }
  virtual void close() = 0;
  // offset -1 (0xFFFFFFFF): at the current position.
  virtual std::int32_t read(void* buffer, std::uint32_t length, std::uint32_t offset) = 0;
  virtual std::int32_t write(const void* buffer, std::uint32_t length, std::uint32_t offset) = 0;
  virtual bool seek(std::uint32_t offset) = 0;

  static constexpr std::uint32_t CurrentPosition = 0xFFFFFFFFu;

 protected:
  Console& console() const { return **console_; }
  // 8-bit form of a wide name, printed diagnostics on this manager's console (see toAscii).
  bool toAscii(char* buffer, const char16_t* text, std::uint32_t bufferSize) const;

  ConsoleSlot console_;
  char nameBuffer_[260] = {};  // 8-bit name of the open file (HTTP and UFS sources)
};

// Writes the 8-bit form of `text` (the handheld's default code page), NUL-terminated, into
// `buffer` of `bufferSize` bytes. Fails, with one console line, when the buffer is too small or
// when a character does not map to exactly one byte (an empty name fails as well).
bool toAscii(Console& console, char* buffer, const char16_t* text, std::uint32_t bufferSize);

}  // namespace kestrel
