// Message boxes of the host build: the box is printed on stdout as one block, caption in
// brackets, and answered by the policy — or by the person at the terminal, asked on /dev/tty.
// A hook set by a test answers instead, and then nothing is printed.
#include "platform/message_box.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/handheld/names.h"

namespace ce {
namespace {

std::optional<BoxPolicy>& chosenPolicy() {
  static std::optional<BoxPolicy> policy;
  return policy;
}

MessageBoxHook& hook() {
  static MessageBoxHook h;
  return h;
}

// Without an explicit choice KESTREL_MESSAGE_BOX (yes, no, ask, show) decides; without that,
// boxes are answered No, so that nothing ever waits for a person who is not there.
BoxPolicy currentPolicy() {
  if (chosenPolicy()) return *chosenPolicy();
  const char* v = std::getenv("KESTREL_MESSAGE_BOX");
  if (v && std::strcmp(v, "yes") == 0) return BoxPolicy::Yes;
  if (v && (std::strcmp(v, "ask") == 0 || std::strcmp(v, "show") == 0)) return BoxPolicy::Ask;
  return BoxPolicy::No;
}

// The text with its continuation lines indented under the first.
std::string block(const WCHAR* text, const WCHAR* caption) {
  std::string head = "[" + handheld::utf16ToUtf8(caption ? caption : u"Error") + "] ";
  std::string body = handheld::utf16ToUtf8(text ? text : u"");
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  std::string out = head;
  std::string indent(head.size(), ' ');
  for (char c : body) {
    if (c == '\r') continue;
    out += c;
    if (c == '\n') out += indent;
  }
  return out;
}

// Asks at the terminal; true for the first choice. Without a terminal, or at its end of
// input, the answer is the second choice.
bool askTerminal(const std::string& prompt, char first, char second) {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY);
  if (fd < 0) return false;
  bool answer = false;
  for (;;) {
    std::string q = prompt + " (" + first + "/" + second + ")? ";
    if (::write(fd, q.data(), q.size()) < 0) break;
    char line[64];
    ssize_t n = ::read(fd, line, sizeof line - 1);
    if (n <= 0) break;
    char c = static_cast<char>(line[0] | 0x20);
    if (c == (first | 0x20)) {
      answer = true;
      break;
    }
    if (c == (second | 0x20)) break;
  }
  ::close(fd);
  return answer;
}

}  // namespace

void setMessageBoxPolicy(BoxPolicy policy) { chosenPolicy() = policy; }

void setMessageBoxHook(MessageBoxHook h) { hook() = std::move(h); }

int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type) {
  if (hook()) return hook()(owner, text, caption, type);
  std::string out = block(text, caption);
  UINT buttons = type & 0x0F;
  if (buttons != MbYesNo && buttons != MbOkCancel) {
    std::fprintf(stdout, "%s\n", out.c_str());
    std::fflush(stdout);
    return IdOk;
  }
  bool yesNo = buttons == MbYesNo;
  const char* firstName = yesNo ? "Yes" : "OK";
  const char* secondName = yesNo ? "No" : "Cancel";
  out += yesNo ? " [Yes/No] " : " [OK/Cancel] ";
  bool first = false;
  switch (currentPolicy()) {
    case BoxPolicy::Yes: first = true; break;
    case BoxPolicy::No: first = false; break;
    case BoxPolicy::Ask:
    case BoxPolicy::Show:
      std::fflush(stdout);
      first = askTerminal(block(text, caption), yesNo ? 'y' : 'o', yesNo ? 'n' : 'c');
      break;
  }
  std::fprintf(stdout, "%s%s\n", out.c_str(), first ? firstName : secondName);
  std::fflush(stdout);
  if (yesNo) return first ? IdYes : IdNo;
  return first ? IdOk : IdCancel;
}

// The host build has no windows to repaint.
BOOL UpdateWindow(HWND) { return True; }

}  // namespace ce
