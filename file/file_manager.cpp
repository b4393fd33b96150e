// What every file manager shares: the conversion of wide names to 8-bit text and the choice
// of source from the kernel directory.
#include "file/file_manager.h"

#include <cstdint>
#include <string_view>

#include "platform/text.h"

namespace kestrel {

bool toAscii(Console& console, char* buffer, const char16_t* text, std::uint32_t bufferSize) {
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

bool FileManager::toAscii(char* buffer, const char16_t* text, std::uint32_t bufferSize) const {
  return kestrel::toAscii(console(), buffer, text, bufferSize);
}

}  // namespace kestrel
