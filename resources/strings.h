// The program's string resources: the ids the code asks for and, from strings.inc, the one
// table of texts that both builds carry (compiled in on the host, the STRINGTABLE of
// kestrel.rc in the win32 build). Read them through ce::LoadStringW.
#pragma once
#include <cstddef>

namespace kestrel::resources {

// Window class name of the main window, also its title.
constexpr unsigned IdsClassName = 10002;
// Kernel directory list: entry i is string IdsKernelDirectory + 2 * i, for i below
// KernelDirectoryCount; the last entry is "user defined".
constexpr unsigned IdsKernelDirectory = 10004;
constexpr int KernelDirectoryCount = 14;

struct StringResource {
  unsigned id;
  const char16_t* text;
};

inline constexpr StringResource stringTable[] = {
#define KESTREL_STRING(id, text) {id, u"" text},
#include "resources/strings.inc"
#undef KESTREL_STRING
};
inline constexpr std::size_t stringCount = sizeof(stringTable) / sizeof(stringTable[0]);

// The text of `id`, or null when the table has none.
constexpr const char16_t* findString(unsigned id) {
  for (const StringResource& s : stringTable) {
    if (s.id == id) return s.text;
  }
  return nullptr;
}

namespace detail {
// Every text is followed, in its block of 16 ids, by an id without text (whose zero length
// word terminates the text read in place), and ids ascend (a duplicate would be refused by
// the resource compiler but silently shadowed here).
constexpr bool terminatedInPlace() {
  for (std::size_t i = 0; i < stringCount; ++i) {
    if (stringTable[i].id % 16 == 15) return false;
    if (i + 1 < stringCount && stringTable[i + 1].id <= stringTable[i].id + 1) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::terminatedInPlace(), "string ids must ascend with a gap after each");

}  // namespace kestrel::resources
