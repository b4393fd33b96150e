#include "common/message_box.h"

#include "platform/message_box.h"

namespace kestrel {

namespace {

OwnerWindowSource ownerSource = nullptr;
SafetyMessageSource safetySource = nullptr;

}  // namespace

void setOwnerWindowSource(OwnerWindowSource source) { ownerSource = source; }
void setSafetyMessageSource(SafetyMessageSource source) { safetySource = source; }

ce::HWND ownerWindow() { return ownerSource ? ownerSource() : nullptr; }
bool safetyMessagesWanted() { return safetySource ? safetySource() : true; }

int ownedMessageBox(const char16_t* text, const char16_t* caption, ce::UINT type) {
  ce::HWND owner = ownerWindow();
  int answer = ce::MessageBoxW(owner, text, caption, type);
  ce::UpdateWindow(owner);
  return answer;
}

}  // namespace kestrel
