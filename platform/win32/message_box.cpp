// Message boxes of the win32 build: the real box, unless a test hook answers or the policy
// says nobody is there to click it.
#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <optional>
#include <string>

#include "platform/message_box.h"

namespace ce {
namespace {

MessageBoxHook& hook() {
  static MessageBoxHook h;
  return h;
}

std::optional<BoxPolicy>& chosenPolicy() {
  static std::optional<BoxPolicy> p;
  return p;
}

// Without an explicit choice, KESTREL_MESSAGE_BOX (yes, no, ask, show) decides; tools/wine-run
// sets it to "no" when it runs a program on a private display nobody looks at, and the test
// programs get it from CTest. Otherwise the box is shown.
BoxPolicy currentPolicy() {
  if (chosenPolicy()) return *chosenPolicy();
  wchar_t value[16];
  DWORD n = ::GetEnvironmentVariableW(L"KESTREL_MESSAGE_BOX", value, 16);
  if (n == 0 || n >= 16) return BoxPolicy::Show;
  std::wstring v(value, n);
  for (wchar_t& c : v) c = static_cast<wchar_t>(std::towlower(c));
  if (v == L"yes") return BoxPolicy::Yes;
  if (v == L"no") return BoxPolicy::No;
  if (v == L"ask") return BoxPolicy::Ask;
  return BoxPolicy::Show;
}

// The answer a user who always agrees (or always declines) would give.
int automaticAnswer(BoxPolicy policy, UINT type) {
  bool yes = policy == BoxPolicy::Yes;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return yes ? IdOk : IdCancel;
    case MB_YESNO:
    case MB_YESNOCANCEL: return yes ? IdYes : IdNo;
    case MB_RETRYCANCEL: return yes ? IDRETRY : IdCancel;
    case MB_ABORTRETRYIGNORE: return yes ? IDIGNORE : IDABORT;
    default: return IdOk;
  }
}

std::string utf8(const WCHAR* text) {
  if (!text) return {};
  auto w = reinterpret_cast<const wchar_t*>(text);
  int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<std::size_t>(n - 1));
  return s;
}

const char* answerName(int answer) {
  switch (answer) {
    case IdOk: return "OK";
    case IdCancel: return "Cancel";
    case IdYes: return "Yes";
    case IdNo: return "No";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDABORT: return "Abort";
    default: return "?";
  }
}

}  // namespace

void setMessageBoxPolicy(BoxPolicy policy) { chosenPolicy() = policy; }

void setMessageBoxHook(MessageBoxHook h) { hook() = std::move(h); }

int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type) {
  if (hook()) return hook()(owner, text, caption, type);
  BoxPolicy policy = currentPolicy();
  // Ask means asking the user, and the box is how this build asks.
  if (policy == BoxPolicy::Show || policy == BoxPolicy::Ask) {
    return ::MessageBoxW(static_cast<::HWND>(owner), reinterpret_cast<const wchar_t*>(text),
                         reinterpret_cast<const wchar_t*>(caption), type);
  }
  int answer = automaticAnswer(policy, type);
  // Left on stderr so that a run without boxes still shows what was asked.
  std::fprintf(stderr, "message box \"%s\": %s -> %s\n", utf8(caption).c_str(), utf8(text).c_str(),
               answerName(answer));
  std::fflush(stderr);
  return answer;
}

BOOL UpdateWindow(HWND window) { return ::UpdateWindow(static_cast<::HWND>(window)); }

}  // namespace ce
