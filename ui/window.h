// The window object framework: every window the program makes is a Window, and the window
// class's procedure and the pages' dialog procedure hand each message to its object.
#pragma once
#include <windows.h>

#include <cstdint>

namespace kestrel::ui {

class Application;

class Window {
 public:
  explicit Window(Application& application);
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Nonzero when the message was handled.
  virtual BOOL handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) { return FALSE; }
  virtual bool create() { return false; }

  HWND handle() const { return window_; }
  HWND parent() const { return parent_; }
  Application& application() const { return application_; }

  // What the main class's window word holds: the class reserves 4 extra bytes, too few for
  // a pointer on a 64-bit desktop, so the word names the object by a 32-bit key instead (on
  // the handheld's 32-bit processor the key and the pointer would be the same size).
  std::uint32_t key() const { return key_; }
  // The live object of a key; null for 0 and for an object that is gone.
  static Window* fromKey(std::uint32_t key);

 protected:
  HWND window_ = nullptr;
  HWND parent_ = nullptr;
  Application& application_;

 private:
  std::uint32_t key_;
};

// The main class's window procedure: the object comes from the creation parameters at the
// create message and from the window word afterwards. Handled messages answer 0, the rest go
// to the default window procedure.
LRESULT CALLBACK windowTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The pages' dialog procedure: the page comes from the creation parameter at the
// dialog-initialisation message and from the dialog's user word afterwards.
INT_PTR CALLBACK dialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The window's extra bytes, as the class registers them.
constexpr int WindowExtraBytes = 4;

}  // namespace kestrel::ui
