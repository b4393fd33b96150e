// The program's own message boxes: every warning and information box is owned by the front
// end's main window, and the window is repainted as soon as the box is gone. The components
// below the boot control find the owner here; the settings object installs where it comes
// from (its main window) and whether the user wants the informational boxes (the "Safety
// Message" flag), as it installs the console's sink.
#pragma once
#include "platform/types.h"

namespace kestrel {

using OwnerWindowSource = ce::HWND (*)();
using SafetyMessageSource = bool (*)();

// With no source installed there is no owner, and informational boxes are shown.
void setOwnerWindowSource(OwnerWindowSource source);
void setSafetyMessageSource(SafetyMessageSource source);

ce::HWND ownerWindow();
bool safetyMessagesWanted();

// MessageBoxW owned by the main window, then the main window repainted; the box's answer.
int ownedMessageBox(const char16_t* text, const char16_t* caption, ce::UINT type);

}  // namespace kestrel
