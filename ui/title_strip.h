// The strip across the top of the window where Windows CE puts its command bar: a bar the
// height of a command bar with a close box at its right end. Tapping the close box closes the
// main window, as the command bar's does. The strip also shows the window's title, which the
// device shows in its taskbar.
#pragma once
#include <windows.h>

namespace kestrel::ui {

constexpr int TitleStripId = 3;

// The strip's height in pixels: a command bar's 26 at 96 dpi, scaled to the screen.
int titleStripHeight();
// Creates the strip across the top of `parent`'s client area. Null on failure.
HWND createTitleStrip(HWND parent, HINSTANCE instance);
// The close box inside the strip, in the strip's client coordinates.
RECT titleStripCloseBox(HWND strip);
// Releases the strip's window class (at exit, after the strip is gone).
void unregisterTitleStrip(HINSTANCE instance);

}  // namespace kestrel::ui
