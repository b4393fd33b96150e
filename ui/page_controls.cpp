#include "ui/page_controls.h"

namespace kestrel::ui {

std::u16string controlText(HWND control, int units) {
  if (!control || units <= 0) return {};
  std::u16string text(static_cast<std::size_t>(units), u'\0');
  int n = ::GetWindowTextW(control, wide(text.data()), units);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

std::u16string controlText(HWND dialog, int id, int units) { return controlText(::GetDlgItem(dialog, id), units); }

void setControlText(HWND dialog, int id, std::u16string_view text) {
  std::u16string terminated(text);
  ::SetDlgItemTextW(dialog, id, wide(terminated.c_str()));
}

bool isChecked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void setChecked(HWND dialog, int id, bool checked) {
  ::CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void enableControl(HWND dialog, int id, bool enabled) {
  if (HWND control = ::GetDlgItem(dialog, id)) ::EnableWindow(control, enabled ? TRUE : FALSE);
}

std::int32_t leadingNumber(std::u16string_view text) {
  std::size_t k = 0;
  while (k < text.size() && (text[k] == u' ' || text[k] == u'\t')) ++k;
  bool negative = false;
  if (k < text.size() && (text[k] == u'+' || text[k] == u'-')) {
    negative = text[k] == u'-';
    ++k;
  }
  // Accumulated as a magnitude that stops growing past the 32-bit range.
  constexpr std::int64_t limit = 0x80000000ll;
  std::int64_t magnitude = 0;
  for (; k < text.size() && text[k] >= u'0' && text[k] <= u'9'; ++k) {
    magnitude = magnitude * 10 + (text[k] - u'0');
    if (magnitude > limit) magnitude = limit;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return static_cast<std::int32_t>(magnitude >= limit ? limit - 1 : magnitude);
}

}  // namespace kestrel::ui
