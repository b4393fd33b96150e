// A console that keeps what is printed, for the memory tests.
#pragma once
#include <string>

#include "console/console.h"

namespace kestrel::memory_test {

class CaptureConsole : public Console {
 public:
  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override {
    formatIntoBuffer(format, args, count);
    text += buffer_;
  }
  std::u16string take() {
    std::u16string t;
    t.swap(text);
    return t;
  }
  std::u16string text;
};

}  // namespace kestrel::memory_test
