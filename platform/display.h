// Display capabilities of the screen.
#pragma once
#include "platform/types.h"

namespace ce {

constexpr int HorzRes = 8;
constexpr int VertRes = 10;
constexpr int BitsPixel = 12;
constexpr int LogPixelsX = 88;
constexpr int LogPixelsY = 90;

// GetDC(nullptr) is the screen.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int GetDeviceCaps(HDC dc, int index);

}  // namespace ce
