#include "ui/title_strip.h"

#include "platform/display.h"

namespace kestrel::ui {

namespace {

const wchar_t* const ClassName = L"KestrelTitleStrip";
constexpr int CommandBarHeight = 26;  // at 96 dpi

// Set while the stylus is down on the close box: the box acts when it is let go over it.
bool pressing = false;

void paint(HWND strip) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(strip, &ps);
  RECT client;
  ::GetClientRect(strip, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  // A line under the strip separates it from the button row.
  RECT line = client;
  line.top = line.bottom - 1;
  ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_BTNSHADOW));
  RECT box = titleStripCloseBox(strip);
  // The window's title at the left: on the device the taskbar above shows it, here nothing
  // else does.
  wchar_t title[96];
  if (::GetWindowTextW(::GetParent(strip), title, 96) > 0) {
    RECT text = client;
    text.left += 4;
    text.right = box.left - 4;
    HGDIOBJ oldFont = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    ::DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    ::SelectObject(dc, oldFont);
  }
  ::DrawEdge(dc, &box, pressing ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  // The cross, two pixels wide, inset from the box's edges.
  int inset = (box.bottom - box.top) / 4;
  HPEN pen = ::CreatePen(PS_SOLID, 2, ::GetSysColor(COLOR_BTNTEXT));
  HGDIOBJ old = ::SelectObject(dc, pen);
  ::MoveToEx(dc, box.left + inset, box.top + inset, nullptr);
  ::LineTo(dc, box.right - inset, box.bottom - inset);
  ::MoveToEx(dc, box.right - inset, box.top + inset, nullptr);
  ::LineTo(dc, box.left + inset, box.bottom - inset);
  ::SelectObject(dc, old);
  ::DeleteObject(pen);
  ::EndPaint(strip, &ps);
}

bool overBox(HWND strip, LPARAM lParam) {
  RECT box = titleStripCloseBox(strip);
  POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  return ::PtInRect(&box, p) != FALSE;
}

LRESULT CALLBACK stripProcedure(HWND strip, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: paint(strip); return 0;
    case WM_LBUTTONDOWN:
      if (overBox(strip, lParam)) {
        pressing = true;
        ::SetCapture(strip);
        ::InvalidateRect(strip, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (pressing) {
        pressing = false;
        ::ReleaseCapture();
        ::InvalidateRect(strip, nullptr, FALSE);
        if (overBox(strip, lParam)) ::PostMessageW(::GetParent(strip), WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_CAPTURECHANGED: pressing = false; return 0;
    default: return ::DefWindowProcW(strip, message, wParam, lParam);
  }
}

}  // namespace

int titleStripHeight() {
  ce::HDC screen = ce::GetDC(nullptr);
  int dpi = ce::GetDeviceCaps(screen, ce::LogPixelsY);
  ce::ReleaseDC(nullptr, screen);
  return CommandBarHeight * (dpi > 0 ? dpi : 96) / 96;
}

HWND createTitleStrip(HWND parent, HINSTANCE instance) {
  WNDCLASSW cls{};
  if (!::GetClassInfoW(instance, ClassName, &cls)) {
    cls.lpfnWndProc = stripProcedure;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    cls.lpszClassName = ClassName;
    if (!::RegisterClassW(&cls)) return nullptr;
  }
  RECT client;
  ::GetClientRect(parent, &client);
  return ::CreateWindowExW(0, ClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, client.right - client.left,
                           titleStripHeight(), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(TitleStripId)),
                           instance, nullptr);
}

RECT titleStripCloseBox(HWND strip) {
  RECT client;
  ::GetClientRect(strip, &client);
  int side = client.bottom - client.top - 4;
  if (side < 0) side = 0;
  return RECT{client.right - 2 - side, 2, client.right - 2, 2 + side};
}

void unregisterTitleStrip(HINSTANCE instance) { ::UnregisterClassW(ClassName, instance); }

}  // namespace kestrel::ui
