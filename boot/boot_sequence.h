// The boot sequence, its memory request, and the program's start-up and tear-down order
// shared by the front ends.
#pragma once
#include <cstdint>

namespace kestrel {

class Boot;
class MemoryManager;

// The routine the Boot button and the auto-boot timer start (through Settings::runBoot).
// Drives the boot object's components through the progress steps "0" to "10" and jumps to
// the kernel; returns only when the boot failed, after one "BOOT FAILED" box.
void bootSequence(std::uint32_t argument);
// The same on a given boot object (bootSequence uses the process's).
void runBootSequence(Boot& boot);

// Reserves the pages for `totalBytes` of kernel and image: every chain page carries a
// 16-byte link, and four pages more are asked for (boot arguments, 2nd bootloader, its stack
// and one spare), in whole 64 KiB units.
bool reserveBootMemory(MemoryManager& memory, std::uint32_t totalBytes);
// The request reserveBootMemory makes for `totalBytes` with `pageSize`-byte pages.
std::uint32_t bootMemoryRequest(std::uint32_t totalBytes, std::uint32_t pageSize);

// The text of the last "BOOT FAILED" box of this process, or null when no boot failed.
const char16_t* lastBootFailure();

// What the Boot button does: collect the tabs, ask "Data in memory will be lost." when the
// safety message is on (any answer but Yes ends here), then start the boot.
void pressBoot();
// Starting a boot (after the Boot button's question, or at the auto-boot timer): progress
// to 0, "BOOT START\n" to the Console tab, collect the tabs, save kestrel.cnf, run the boot.
void startBoot();

// The steps of start-up and tear-down that belong to a front end. runProgram calls them in
// the program's fixed order; each "create" that fails leads straight to tear-down.
class ProgramShell {
 public:
  // Whatever the window system needs before the tab, progress and up-down controls exist.
  virtual void initCommonControls() {}
  virtual bool createApplication() = 0;
  // The main window object: it registers itself and its pages with the settings.
  virtual bool createMainWindowObject() = 0;
  virtual bool registerWindowClass() = 0;
  // Creates, shows and paints the window (and starts the auto-boot timer).
  virtual bool createWindow() = 0;
  // Runs until the quit message; its value is the exit code.
  virtual int messageLoop() = 0;
  virtual void destroyMainWindowObject() = 0;
  virtual void destroyApplication() = 0;

 protected:
  ~ProgramShell() = default;
};

// Start-up: settings (loaded from kestrel.cnf or defaults), common controls, application,
// the LCD console, the main window object, the window class, the window, the boot object
// (which installs the boot sequence); then the message loop. Tear-down in this order: boot
// object, main window object, application, console, settings (never saved at exit).
// Returns the message loop's value, or 0 when the window class or the window could not be
// made.
int runProgram(ProgramShell& shell);

}  // namespace kestrel
