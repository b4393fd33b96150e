#include "boot/temporary_directory.h"

namespace kestrel {

bool findTemporaryDirectory(char16_t* buffer) {
  // The listing starts from the root's pattern, put into the caller's buffer.
  const char16_t pattern[] = u"\\*.*";
  for (int k = 0; k < 5; ++k) buffer[k] = pattern[k];

  ce::WIN32_FIND_DATAW entry;
  ce::HANDLE find = ce::FindFirstFileW(buffer, &entry);
  if (find == ce::InvalidHandleValue) return false;
  constexpr ce::DWORD wanted = ce::FileAttributeDirectory | ce::FileAttributeTemporary;
  do {
    if ((entry.dwFileAttributes & wanted) == wanted) {
      // cFileName has the same 260 units as the buffer; the copy stops at the terminator or
      // at the last unit, which is always the terminator.
      int k = 0;
      for (; k < TemporaryDirectoryUnits - 1 && entry.cFileName[k]; ++k) buffer[k] = entry.cFileName[k];
      buffer[k] = 0;
      ce::FindClose(find);
      return true;
    }
  } while (ce::FindNextFileW(find, &entry));
  ce::FindClose(find);
  return false;
}

}  // namespace kestrel
