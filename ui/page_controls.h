// Small helpers the pages share for reading and setting their dialog's controls. The pages
// keep UTF-16 text; on the Windows side wchar_t is 16 bits wide, so the two are the same units.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "boot/settings.h"

namespace kestrel::ui {

inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// The text of a control, at most `units - 1` characters: what a buffer of `units` units with
// its terminator holds.
std::u16string controlText(HWND control, int units);
std::u16string controlText(HWND dialog, int id, int units);
void setControlText(HWND dialog, int id, std::u16string_view text);

bool isChecked(HWND dialog, int id);
void setChecked(HWND dialog, int id, bool checked);
void enableControl(HWND dialog, int id, bool enabled);

// The decimal number a text starts with: blanks skipped, an optional sign, then the digits up
// to the first non-digit; 0 when no digit follows. A number beyond 32 bits stops at the
// largest (or smallest) 32-bit value.
std::int32_t leadingNumber(std::u16string_view text);

// A check box that stands for one 0/1 field of the settings record.
struct FlagBox {
  int id;
  std::uint32_t SettingsRecord::*field;
};
// Checks each box whose field is nonzero, and back: each field 1 when its box is checked.
template <std::size_t N>
void showFlags(HWND dialog, const FlagBox (&boxes)[N], const SettingsRecord& record) {
  for (const FlagBox& box : boxes) setChecked(dialog, box.id, record.*(box.field) != 0);
}
template <std::size_t N>
void saveFlags(HWND dialog, const FlagBox (&boxes)[N], SettingsRecord& record) {
  for (const FlagBox& box : boxes) record.*(box.field) = isChecked(dialog, box.id) ? 1 : 0;
}

}  // namespace kestrel::ui
