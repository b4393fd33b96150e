// The handheld's screen: GetDC(nullptr) and GetDeviceCaps, from the profile and handheld.ini.
#include "platform/display.h"

#include "platform/files.h"
#include "platform/handheld/machine.h"

namespace {
// The screen's device context: the address of this object, never null.
char screen;
}  // namespace

namespace ce {

// Every window of the handheld is on the one screen, so any window's DC describes it.
HDC GetDC(HWND) { return &screen; }

int ReleaseDC(HWND, HDC dc) { return dc == &screen ? 1 : 0; }

int GetDeviceCaps(HDC dc, int index) {
  if (dc != &screen) {
    SetLastError(ErrorInvalidHandle);
    return 0;
  }
  const handheld::Profile& p = handheld::current().config().profile;
  switch (index) {
    case HorzRes: return p.width;
    case VertRes: return p.height;
    case BitsPixel: return p.bitsPerPixel;
    case LogPixelsX:
    case LogPixelsY: return p.dpi;
    default: return 0;
  }
}

}  // namespace ce
