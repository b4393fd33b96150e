// Message boxes and repainting. On the handheld these are the platform's own boxes; the
// host build prints the box and answers by a policy, the win32 build shows a real box.
#pragma once
#include <functional>

#include "platform/types.h"

namespace ce {

constexpr UINT MbOk = 0x00;
constexpr UINT MbOkCancel = 0x01;
constexpr UINT MbYesNo = 0x04;
constexpr UINT MbIconStop = 0x10;
constexpr UINT MbIconQuestion = 0x20;
constexpr UINT MbIconExclamation = 0x30;
constexpr UINT MbIconInformation = 0x40;

constexpr int IdOk = 1;
constexpr int IdCancel = 2;
constexpr int IdYes = 6;
constexpr int IdNo = 7;

int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type);
// Repaints the window at once (after a box has been taken down).
BOOL UpdateWindow(HWND window);

// How boxes are answered where no user clicks them. `Ask` asks on the terminal (host build)
// and answers No when there is no terminal.
enum class BoxPolicy { Yes, No, Ask, Show };
void setMessageBoxPolicy(BoxPolicy policy);

// Tests watch and answer boxes here; while a hook is set no box is shown.
using MessageBoxHook = std::function<int(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type)>;
void setMessageBoxHook(MessageBoxHook hook);

}  // namespace ce
