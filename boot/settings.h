// The settings object: the persistent 2152-byte settings record (kestrel.cnf on the first
// storage card) plus the handles through which the boot control reaches the front end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "boot/front_end.h"
#include "boot/platform_table.h"
#include "boot/settings_schema.h"
#include "platform/files.h"

namespace kestrel {

// The record as it is stored in kestrel.cnf: 2152 bytes, little-endian, read and written
// field by field. Texts are UTF-16 in fixed arrays, terminated by a 0 unit inside the array;
// every unit is kept, including what follows the terminator, so a record that was loaded is
// written back byte for byte. A text loaded from a file need not be terminated: read it with
// textOf(), which stops at the array's end.
struct SettingsRecord {
  static constexpr std::size_t Size = 2152;
  static constexpr std::uint32_t MagicValue = 0x177D5753;
  static constexpr std::uint32_t CurrentVersion = 258;
  static constexpr std::size_t PathUnits = 260;
  static constexpr std::size_t OptionUnits = 256;

  // Byte offsets of the fields in the file.
  struct Offset {
    static constexpr std::size_t magic = 0, version = 4, recordSize = 8, reserved = 12;
    static constexpr std::size_t kernelDirectorySet = 16, kernelDirectory = 20;
    static constexpr std::size_t kernelFileSet = 540, kernelFile = 544;
    static constexpr std::size_t platformCpu = 1064, platformMachine = 1068;
    static constexpr std::size_t rootDevice = 1072, fsImagePath = 1076;
    static constexpr std::size_t serialConsole = 1596, bootVerbose = 1600, singleUser = 1604;
    static constexpr std::size_t askName = 1608, kernelDebugger = 1612, autoBootSeconds = 1616;
    static constexpr std::size_t reverseVideo = 1620, pauseBeforeBoot = 1624, loadDebugInfo = 1628;
    static constexpr std::size_t safetyMessage = 1632, serialSpeed = 1636, extraOptions = 1640;
  };

  std::uint32_t magic = 0;
  std::uint32_t version = 0;
  std::uint32_t recordSize = 0;
  std::uint32_t reserved = 0;
  std::uint32_t kernelDirectorySet = 0;
  char16_t kernelDirectory[PathUnits] = {};
  std::uint32_t kernelFileSet = 0;
  char16_t kernelFile[PathUnits] = {};
  PlatformId platform;
  std::int32_t rootDevice = 0;  // a RootDevice number (settings_schema.h)
  char16_t fsImagePath[PathUnits] = {};
  std::uint32_t serialConsole = 0;
  std::uint32_t bootVerbose = 0;
  std::uint32_t singleUser = 0;
  std::uint32_t askName = 0;
  std::uint32_t kernelDebugger = 0;
  std::int32_t autoBootSeconds = 0;
  std::uint32_t reverseVideo = 0;
  std::uint32_t pauseBeforeBoot = 0;
  std::uint32_t loadDebugInfo = 0;
  std::uint32_t safetyMessage = 0;
  std::uint32_t serialSpeed = 0;
  char16_t extraOptions[OptionUnits] = {};

  void serialize(std::uint8_t (&out)[Size]) const;
  void deserialize(const std::uint8_t (&in)[Size]);
  // The defaults of every field; the two texts whose flags the defaults clear
  // (kernelDirectory, kernelFile) are left as they are.
  void setDefaults();
};

// The text of a fixed array, up to its terminator or the array's end.
template <std::size_t N>
std::u16string_view textOf(const char16_t (&units)[N]) {
  std::size_t n = 0;
  while (n < N && units[n]) ++n;
  return std::u16string_view(units, n);
}
// Stores `text` (cut to N - 1 units) and its terminator; the units after it are kept.
template <std::size_t N>
void setText(char16_t (&units)[N], std::u16string_view text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  for (std::size_t k = 0; k < n; ++k) units[k] = text[k];
  units[n] = 0;
}

class Settings : public SettingsRecord {
 public:
  using BootCallback = void (*)(std::uint32_t argument);
  using DebugHook = void (*)(std::uint32_t argument, std::uint8_t mask);
  struct DebugHookEntry {
    DebugHook function = nullptr;
    std::uint32_t argument = 0;
  };

  // Loads kestrel.cnf or takes the defaults, then version 258 and recordSize 2152 whatever
  // the file held. Installs printToConsoleTab as the LCD console's sink.
  Settings();
  virtual ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // The file at "\<first storage card>\kestrel.cnf". Both report false at once when the
  // handheld has no storage card. A failed load leaves the record untouched.
  bool loadFile();
  bool saveFile();
  using SettingsRecord::setDefaults;

  // Starts the boot sequence installed by the boot object; nothing when none is installed.
  void runBoot();
  // saveToSettings of the Main tab, then of the Option tab.
  void collectFromTabs();
  // The LCD console's sink: the Console tab's print with the pane-only flag clear, or
  // nowhere while there is no Console tab.
  void printToConsoleTab(const char16_t* text);
  void stepProgress(const char* label);
  void resetProgress();

  // Entry i (0..13) of the kernel directory list: the text of string resource 10004 + 2i,
  // except that entry 13 is the saved kernelDirectory while kernelDirectorySet is nonzero.
  // None for any other i.
  std::optional<std::u16string> kernelDirectoryChoice(int i) const;
  // The entry the Main tab selects first: 13 when a directory was saved, else 0.
  int initialDirectoryChoice() const;

  // Owner of message boxes; null while there is no main window.
  ce::HWND ownerWindow() const;

  // Registered by the front end as its objects are made; not owned.
  BootWindow* mainWindow = nullptr;
  SettingsPage* mainTab = nullptr;
  SettingsPage* optionTab = nullptr;
  ConsolePane* consoleTab = nullptr;

  BootCallback bootCallback = nullptr;
  std::uint32_t bootCallbackArg = 0;
  DebugHookEntry debugHooks[4];
  std::uint32_t debugMask = 0;  // the Console tab's eight debug boxes; not persisted

  static constexpr int KernelDirectoryChoices = 14;
  static constexpr int UserDefinedChoice = 13;
  static constexpr unsigned FirstDirectoryString = 10004;
};

// The process's settings object, created (and loaded) on the first call.
Settings& settings();
// Destroys it without writing the file (at exit).
void releaseSettings();

// The configuration file's paths on the card `directory` (a bare name from
// findTemporaryDirectory): the file itself, and the one a save writes before it replaces
// the file.
void configFilePath(char16_t (&path)[ce::MaxPath], const char16_t* directory);
void configTempPath(char16_t (&path)[ce::MaxPath], const char16_t* directory);

}  // namespace kestrel
