// The file interface every source of kernels and images implements. Header-only: the UFS
// source below this folder's library implements it too.
#pragma once
#include <cstdint>
#include <string_view>

#include "console/console.h"
#include "platform/text.h"

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
inline bool toAscii(Console& console, char* buffer, const char16_t* text, std::uint32_t bufferSize) {
  std::u16string_view wide = text ? std::u16string_view(text) : std::u16string_view();
  // Names are at most a few hundred characters; anything beyond int range cannot fit anyway.
  const int chars = wide.size() > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(wide.size());
  const int need = ce::WideCharToMultiByte(ce::CpAcp, 0, wide.data(), chars, nullptr, 0, nullptr, nullptr);

  const std::int64_t needed = static_cast<std::int64_t>(need) + 1;
  if (static_cast<std::int64_t>(bufferSize) < needed) {
    console.print(u"buffer insufficeint. %d > %d\n", needed, bufferSize);
    return false;
  }
  // Servers and the UFS directory only know single-byte names: a character that takes two
  // bytes in the code page (or a name of no characters) is refused, not passed on mangled.
  const int written = chars > 0 ? ce::WideCharToMultiByte(ce::CpAcp, 0, wide.data(), chars, buffer,
                                                          static_cast<int>(bufferSize > 0x7FFFFFFFu ? 0x7FFFFFFFu : bufferSize),
                                                          nullptr, nullptr)
                                : 0;
  if (written <= 0 || written != chars || need != chars) {
    console.print(u"can't convert to ASCII.\n");
    return false;
  }
  buffer[need] = '\0';
  return true;
}

inline bool FileManager::toAscii(char* buffer, const char16_t* text, std::uint32_t bufferSize) const {
  return kestrel::toAscii(console(), buffer, text, bufferSize);
}

}  // namespace kestrel
