#include "ui/window.h"

#include <vector>

#include "ui/tab_window.h"

namespace kestrel::ui {

namespace {

// Live objects by key - 1. A slot is cleared when its object goes, so a message that arrives
// for a window whose object is gone finds none; slots are reused.
std::vector<Window*>& objects() {
  static std::vector<Window*> table;
  return table;
}

std::uint32_t enrol(Window* object) {
  std::vector<Window*>& table = objects();
  for (std::size_t k = 0; k < table.size(); ++k) {
    if (!table[k]) {
      table[k] = object;
      return static_cast<std::uint32_t>(k + 1);
    }
  }
  table.push_back(object);
  return static_cast<std::uint32_t>(table.size());
}

}  // namespace

Window::Window(Application& application) : application_(application), key_(enrol(this)) {}

Window::~Window() { objects()[key_ - 1] = nullptr; }

Window* Window::fromKey(std::uint32_t key) {
  const std::vector<Window*>& table = objects();
  return key == 0 || key > table.size() ? nullptr : table[key - 1];
}

LRESULT CALLBACK windowTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* object = nullptr;
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    object = static_cast<Window*>(create->lpCreateParams);
    ::SetWindowLongW(window, 0, object ? static_cast<LONG>(object->key()) : 0);
  } else {
    object = Window::fromKey(static_cast<std::uint32_t>(::GetWindowLongW(window, 0)));
  }
  if (object && object->handleMessage(window, message, wParam, lParam)) return 0;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK dialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  TabPage* page = nullptr;
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
    page = reinterpret_cast<TabPage*>(lParam);
  } else {
    page = reinterpret_cast<TabPage*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  }
  return page ? page->handleMessage(dialog, message, wParam, lParam) : 0;
}

}  // namespace kestrel::ui
