// kestrel.exe: the boot loader as the handheld runs it.
#include <windows.h>

#include "ui/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return kestrel::ui::kestrelMain(instance); }
