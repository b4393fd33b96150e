// The console every component prints through. The base class is the LCD console, whose
// text lands in the Console tab; the serial consoles derive from it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/format.h"

namespace kestrel {

class Console {
 public:
  static constexpr std::size_t BufferUnits = 259;  // format buffer, terminator included

  Console();

  // print(format, ...): wide printf conventions (platform/format.h).
  template <class... Args>
  void print(const char16_t* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      vprint(format, nullptr, 0);
    } else {
      const ce::FormatArg list[] = {ce::FormatArg(args)...};
      vprint(format, list, sizeof...(Args));
    }
  }

  // Slot 0: formats into the buffer and sends the text on.
  virtual void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count);
  // Slot 1: makes the console ready; the LCD console is always ready.
  virtual bool init();

  std::int16_t bootConsoleKind() const { return bootConsoleKind_; }
  const char16_t* buffer() const { return buffer_; }

 protected:
  explicit Console(std::int16_t kind);
  // Formats into the buffer (cut at 258 units) and returns the length.
  std::size_t formatIntoBuffer(const char16_t* format, const ce::FormatArg* args, std::size_t count);

  std::int16_t bootConsoleKind_;
  char16_t buffer_[BufferUnits];
};

constexpr std::int16_t LcdConsoleKind = 1;
constexpr std::int16_t SerialConsoleKind = 2;

// The location of the boot object's console pointer: components keep this and read it at
// every print, so a console chosen later is the one they print to.
using ConsoleSlot = Console* const*;

// Process-wide current console; created (as the LCD console) on first use.
Console* currentConsole();
void setCurrentConsole(Console* console);
// Destroys the LCD console the accessor made and empties the current console.
void releaseConsole();

// Where the LCD console's text goes: installed by the settings object (its printToConsoleTab).
using ConsoleSink = void (*)(const char16_t* text);
void setConsoleSink(ConsoleSink sink);

}  // namespace kestrel
