// A console that keeps everything printed to it, as the console formats it.
#pragma once
#include <cstddef>
#include <string>

#include "console/console.h"

namespace kestrel_testing {

class CaptureConsole : public kestrel::Console {
 public:
  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override;
  // What was printed since the last take, which empties it.
  std::u16string take();
  std::u16string text;
};

}  // namespace kestrel_testing
