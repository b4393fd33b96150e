#include "tests/support/capture_console.h"

namespace kestrel_testing {

void CaptureConsole::vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) {
  formatIntoBuffer(format, args, count);
  text += buffer_;
}

std::u16string CaptureConsole::take() {
  std::u16string t;
  t.swap(text);
  return t;
}

}  // namespace kestrel_testing
