// The LCD console and the process-wide console accessor.
#include "console/console.h"

#include <memory>

namespace kestrel {

namespace {

// The console every print goes to; empty until the first currentConsole().
Console* current = nullptr;
// The LCD console the accessor made; the accessor owns it until releaseConsole().
std::unique_ptr<Console> lcdConsole;
// Where the LCD console's text goes. Empty while nothing that shows text exists, and then
// the text is dropped: printing before the main window has its pages is not an error.
ConsoleSink sink = nullptr;

}  // namespace

Console::Console() : Console(LcdConsoleKind) {}

Console::Console(std::int16_t kind) : bootConsoleKind_(kind), buffer_{} {}

std::size_t Console::formatIntoBuffer(const char16_t* format, const ce::FormatArg* args, std::size_t count) {
  // The formatter never writes past BufferUnits and always terminates, so a longer text is
  // cut at BufferUnits - 1 units.
  return ce::vformat(buffer_, BufferUnits, format, args, count);
}

void Console::vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) {
  formatIntoBuffer(format, args, count);
  // Each call's text goes out at once, as it stands: nothing is held back until a line end,
  // so a message built of several prints arrives piece by piece.
  if (sink) sink(buffer_);
}

bool Console::init() { return true; }

Console* currentConsole() {
  if (!current) {
    if (!lcdConsole) lcdConsole = std::make_unique<Console>();
    current = lcdConsole.get();
  }
  return current;
}

void setCurrentConsole(Console* console) { current = console; }

void releaseConsole() {
  lcdConsole.reset();
  current = nullptr;
}

void setConsoleSink(ConsoleSink newSink) { sink = newSink; }

}  // namespace kestrel
