// String resources of the win32 build: the STRINGTABLE of resources/kestrel.rc, linked into
// every program, read with the system's LoadStringW.
#include <windows.h>

#include "platform/resources.h"

namespace ce {

HINSTANCE programInstance() { return ::GetModuleHandleW(nullptr); }

int LoadStringW(HINSTANCE instance, UINT id, WCHAR* buffer, int bufferMax) {
  auto out = reinterpret_cast<wchar_t*>(buffer);
  // With bufferMax 0 the system stores a pointer into the resource through `buffer`: the
  // in-place read of the interface.
  if (!buffer || bufferMax < 0) return 0;
  if (bufferMax == 0) return ::LoadStringW(static_cast<::HINSTANCE>(instance), id, out, 0);
  // The system leaves the buffer untouched when the string is missing and unterminated when
  // only the terminator fits; callers here always get a terminated (maybe empty) text.
  out[0] = L'\0';
  int n = ::LoadStringW(static_cast<::HINSTANCE>(instance), id, out, bufferMax);
  if (n < 0 || n >= bufferMax) n = 0;
  out[n] = L'\0';
  return n;
}

}  // namespace ce
