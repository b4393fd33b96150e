// String resources of the host build: the table of resources/strings.inc compiled in, read
// as the platform's LoadStringW reads a module's string table.
#include <algorithm>

#include "platform/resources.h"
#include "resources/strings.h"

namespace ce {
namespace {

// Stands in for the module handle; only its address matters.
const char programModule = 0;

int length(const WCHAR* text) {
  int n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

HINSTANCE programInstance() { return const_cast<char*>(&programModule); }

int LoadStringW(HINSTANCE instance, UINT id, WCHAR* buffer, int bufferMax) {
  if (!buffer || bufferMax < 0) return 0;
  // The program has one module; null names it, as it does for the platform's own call.
  const WCHAR* text = instance == nullptr || instance == programInstance() ? kestrel::resources::findString(id) : nullptr;
  if (bufferMax == 0) {
    if (!text) return 0;
    *reinterpret_cast<const WCHAR**>(buffer) = text;
    return length(text);
  }
  int n = text ? std::min(length(text), bufferMax - 1) : 0;
  if (n > 0) std::copy(text, text + n, buffer);
  buffer[n] = 0;
  return n;
}

}  // namespace ce
