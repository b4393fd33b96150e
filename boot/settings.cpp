#include "boot/settings.h"

#include <memory>

#include "boot/settings_schema.h"
#include "boot/temporary_directory.h"
#include "common/message_box.h"
#include "console/console.h"
#include "console/serial_console.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/resources.h"

namespace kestrel {

namespace {

// The settings object whose printToConsoleTab is the LCD console's sink.
Settings* sinkOwner = nullptr;
void consoleSink(const char16_t* text) {
  if (sinkOwner) sinkOwner->printToConsoleTab(text);
}
// ... and whose serialSpeed COM1 is opened at.
std::uint32_t serialSpeedSource() { return sinkOwner ? sinkOwner->serialSpeed : 0; }
// ... and whose main window owns the message boxes of the components below, as its
// "Safety Message" flag decides whether they show the informational ones.
ce::HWND ownerWindowSource() { return sinkOwner ? sinkOwner->ownerWindow() : nullptr; }
bool safetyMessageSource() { return !sinkOwner || sinkOwner->safetyMessage != 0; }

std::unique_ptr<Settings> theSettings;

// Reads a record from an open configuration file: the first 12 bytes (magic, version,
// recordSize) must be there and the magic must match; then the stored recordSize bytes, at
// most a whole record, from the start. Bytes the file does not supply keep the record's
// current values. The stored version plays no part.
bool readRecord(ce::HANDLE file, SettingsRecord& record) {
  std::uint8_t bytes[SettingsRecord::Size];
  record.serialize(bytes);

  ce::DWORD got = 0;
  if (!ce::ReadFile(file, bytes, 12, &got, nullptr) || got < 12) return false;
  if (ce::getLe32(bytes + SettingsRecord::Offset::magic) != SettingsRecord::MagicValue) return false;
  std::uint32_t stored = ce::getLe32(bytes + SettingsRecord::Offset::recordSize);
  ce::DWORD wanted = stored < SettingsRecord::Size ? stored : static_cast<ce::DWORD>(SettingsRecord::Size);

  if (ce::SetFilePointer(file, 0, nullptr, ce::FileBegin) == ce::InvalidSetFilePointer) return false;
  if (!ce::ReadFile(file, bytes, wanted, &got, nullptr)) return false;
  record.deserialize(bytes);
  // A value no page could have saved (root device 9, a delay of -1 seconds, 0 bit/s) is not
  // used, nor saved back: that field alone takes its default.
  SettingsRecord defaults;
  defaults.setDefaults();
  for (const SettingsField& f : settingsFields()) {
    if (f.kind != FieldKind::Text && storedValueRefused(f, f.get(record))) f.set(record, f.get(defaults));
  }
  return true;
}

ce::HANDLE openForReading(const char16_t* path) {
  return ce::CreateFileW(path, ce::GenericRead, 0, nullptr, ce::OpenExisting, ce::FileAttributeNormal, nullptr);
}

}  // namespace

void SettingsRecord::serialize(std::uint8_t (&out)[Size]) const {
  auto& record = const_cast<SettingsRecord&>(*this);  // text() hands out the array; nothing is written
  for (const SettingsField& f : settingsFields()) {
    std::uint8_t* at = out + f.offset;
    if (f.kind == FieldKind::Text) {
      const char16_t* units = f.text(record);
      for (std::size_t k = 0; k < f.units; ++k) ce::putLe16(at + 2 * k, units[k]);
    } else {
      ce::putLe32(at, f.get(*this));
    }
  }
}

void SettingsRecord::deserialize(const std::uint8_t (&in)[Size]) {
  for (const SettingsField& f : settingsFields()) {
    const std::uint8_t* at = in + f.offset;
    if (f.kind == FieldKind::Text) {
      char16_t* units = f.text(*this);
      for (std::size_t k = 0; k < f.units; ++k) units[k] = ce::getLe16(at + 2 * k);
    } else {
      f.set(*this, ce::getLe32(at));
    }
  }
}

void SettingsRecord::setDefaults() {
  magic = MagicValue;
  version = CurrentVersion;
  recordSize = static_cast<std::uint32_t>(Size);
  reserved = 0;
  kernelDirectorySet = 0;
  kernelFileSet = 0;
  platform = PlatformId{};
  rootDevice = static_cast<std::int32_t>(RootDevice::Wd);
  setText(fsImagePath, u"miniroot.fs");
  serialConsole = 0;
  bootVerbose = 0;
  singleUser = 0;
  askName = 0;
  kernelDebugger = 0;
  autoBootSeconds = 0;
  reverseVideo = 0;
  pauseBeforeBoot = 1;
  loadDebugInfo = 0;  // read by no boot step; the Option tab shows it unchecked
  safetyMessage = 1;
  serialSpeed = 19200;
  setText(extraOptions, u"");
}

void configFilePath(char16_t (&path)[ce::MaxPath], const char16_t* directory) {
  ce::format(path, ce::MaxPath, u"\\%s\\kestrel.cnf", directory);
}

void configTempPath(char16_t (&path)[ce::MaxPath], const char16_t* directory) {
  ce::format(path, ce::MaxPath, u"\\%s\\kestrel.tmp", directory);
}

Settings::Settings() {
  // The record starts from its defaults, so bytes that a short file does not supply hold
  // defined values; a file that cannot be used leaves it at them.
  setDefaults();
  loadFile();
  version = CurrentVersion;
  recordSize = static_cast<std::uint32_t>(Size);
  sinkOwner = this;
  setConsoleSink(consoleSink);
  setSerialSpeedSource(serialSpeedSource);
  setOwnerWindowSource(ownerWindowSource);
  setSafetyMessageSource(safetyMessageSource);
}

Settings::~Settings() {
  if (sinkOwner == this) {
    sinkOwner = nullptr;
    setConsoleSink(nullptr);
    setSerialSpeedSource(nullptr);
    setOwnerWindowSource(nullptr);
    setSafetyMessageSource(nullptr);
  }
}

bool Settings::loadFile() {
  char16_t directory[TemporaryDirectoryUnits];
  if (!findTemporaryDirectory(directory)) return false;
  char16_t path[ce::MaxPath];
  configFilePath(path, directory);
  ce::HANDLE file = openForReading(path);
  if (file == ce::InvalidHandleValue) {
    if (ce::GetLastError() != ce::ErrorFileNotFound) return false;
    // A save replaces kestrel.cnf by deleting it and renaming the complete kestrel.tmp; if
    // the handheld stopped between the two, the record is in kestrel.tmp. Only a whole
    // record counts: a shorter one is what an interrupted write left behind.
    configTempPath(path, directory);
    file = openForReading(path);
    if (file == ce::InvalidHandleValue) return false;
    if (ce::GetFileSize(file, nullptr) != Size) {
      ce::CloseHandle(file);
      return false;
    }
  }
  bool ok = readRecord(file, *this);
  ce::CloseHandle(file);
  return ok;
}

bool Settings::saveFile() {
  char16_t directory[TemporaryDirectoryUnits];
  if (!findTemporaryDirectory(directory)) return false;
  char16_t path[ce::MaxPath], temporary[ce::MaxPath];
  configFilePath(path, directory);
  configTempPath(temporary, directory);

  std::uint8_t bytes[Size];
  serialize(bytes);

  // Truncating kestrel.cnf and writing it in place would lose the saved settings to any
  // failure in between. The record goes to kestrel.tmp first, and kestrel.cnf is replaced
  // only once all of it is on the card.
  ce::HANDLE file =
      ce::CreateFileW(temporary, ce::GenericWrite, 0, nullptr, ce::CreateAlways, ce::FileAttributeNormal, nullptr);
  if (file == ce::InvalidHandleValue) return false;
  ce::DWORD written = 0;
  bool ok = ce::WriteFile(file, bytes, static_cast<ce::DWORD>(Size), &written, nullptr) && written == Size &&
            ce::FlushFileBuffers(file);
  ok = ce::CloseHandle(file) && ok;
  if (!ok) {
    ce::DeleteFileW(temporary);
    return false;
  }
  if (!ce::DeleteFileW(path) && ce::GetLastError() != ce::ErrorFileNotFound) {
    ce::DeleteFileW(temporary);
    return false;
  }
  // A failed rename leaves the complete record in kestrel.tmp, which loadFile falls back to.
  return ce::MoveFileW(temporary, path);
}

void Settings::runBoot() {
  if (bootCallback) bootCallback(bootCallbackArg);
}

void Settings::collectFromTabs() {
  if (mainTab) mainTab->saveToSettings();
  if (optionTab) optionTab->saveToSettings();
}

void Settings::printToConsoleTab(const char16_t* text) {
  if (consoleTab) consoleTab->print(text, false);
}

void Settings::stepProgress(const char* label) {
  if (mainWindow) mainWindow->stepProgress(label);
}

void Settings::resetProgress() {
  if (mainWindow) mainWindow->resetProgress();
}

std::optional<std::u16string> Settings::kernelDirectoryChoice(int i) const {
  if (i < 0 || i >= KernelDirectoryChoices) return std::nullopt;
  if (i == UserDefinedChoice && kernelDirectorySet) return std::u16string(textOf(kernelDirectory));
  ce::HINSTANCE instance = mainWindow ? mainWindow->instance() : ce::programInstance();
  char16_t text[ce::MaxPath];
  int n = ce::LoadStringW(instance, FirstDirectoryString + 2 * static_cast<unsigned>(i), text, ce::MaxPath);
  return std::u16string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

int Settings::initialDirectoryChoice() const { return kernelDirectorySet ? UserDefinedChoice : 0; }

ce::HWND Settings::ownerWindow() const { return mainWindow ? mainWindow->window() : nullptr; }

Settings& settings() {
  if (!theSettings) theSettings = std::make_unique<Settings>();
  return *theSettings;
}

void releaseSettings() { theSettings.reset(); }

}  // namespace kestrel
