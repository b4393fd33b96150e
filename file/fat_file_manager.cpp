// The local source: a thin layer over the platform's file handle. Its only decisions are how
// the path is formed and what it reports.
#include "file/fat_file_manager.h"

#include <string_view>

#include "platform/files.h"

namespace kestrel {

namespace {

std::size_t unitsOf(const char16_t* text) { return text ? std::u16string_view(text).size() : 0; }

}  // namespace

FatFileManager::FatFileManager(ConsoleSlot console) : FileManager(console), file_(ce::InvalidHandleValue) {
  this->console().print(u"FileManager: FAT\n");
}

FatFileManager::~FatFileManager() {
  // The boot sequence closes what it opened; a handle left open would keep the file locked
  // against the next attempt, so it does not outlive its manager.
  close();
}

bool FatFileManager::setRoot(const char16_t* directory) {
  const std::size_t units = unitsOf(directory);
  // A root that does not fit would have to be cut, and a cut root names another directory:
  // better to refuse it here, where the boot reports "Can't set root directory.".
  if (units >= PathUnits) {
    console().print(u"directory too long. %d > %d\n", units, PathUnits - 1);
    return false;
  }
  std::u16string_view(directory ? directory : u"").copy(root_, units);
  root_[units] = u'\0';
  return true;
}

bool FatFileManager::open(const char16_t* name) {
  // One file at a time: a new open replaces the file still open, it does not leak its handle.
  close();
  const std::size_t rootUnits = unitsOf(root_);
  const std::size_t nameUnits = unitsOf(name);
  if (rootUnits + nameUnits >= PathUnits) {
    console().print(u"path too long. %d > %d\n", rootUnits + nameUnits, PathUnits - 1);
    return false;
  }
  // No separator is inserted: the root carries its own ("\Storage Card\").
  ce::format(path_, PathUnits, u"%s%s", root_, name ? name : u"");

  file_ = ce::CreateFileW(path_, ce::GenericRead, 0, nullptr, ce::OpenExisting, ce::FileAttributeNormal, nullptr);
  if (file_ == ce::InvalidHandleValue) {
    const ce::DWORD cause = ce::GetLastError();
    console().print(u"can't open \"%s\". cause = %d\n", path_, cause);
    return false;
  }
  const std::uint32_t bytes = size();
  if (bytes == ce::InvalidFileSize) {
    console().print(u"can't get file size.\n");
    close();
    return false;
  }
  console().print(u"open file \"%s\"(%d byte).\n", path_, bytes);
  return true;
}

std::uint32_t FatFileManager::size() {
  // The low half only: kernels and images are far below 4 GiB.
  return ce::GetFileSize(file_, nullptr);
}

void FatFileManager::close() {
  if (file_ != ce::InvalidHandleValue) ce::CloseHandle(file_);
  file_ = ce::InvalidHandleValue;
}

void FatFileManager::moveTo(std::uint32_t offset) {
  // With a high word the low word counts as unsigned, so offsets from 2 GiB up stay forward.
  ce::LONG high = 0;
  ce::SetFilePointer(file_, static_cast<ce::LONG>(offset), &high, ce::FileBegin);
}

std::int32_t FatFileManager::read(void* buffer, std::uint32_t length, std::uint32_t offset) {
  if (offset != CurrentPosition) moveTo(offset);
  ce::DWORD got = 0;
  if (!ce::ReadFile(file_, buffer, length, &got, nullptr)) got = 0;
  return static_cast<std::int32_t>(got);
}

std::int32_t FatFileManager::write(const void* buffer, std::uint32_t length, std::uint32_t offset) {
  if (offset != CurrentPosition) moveTo(offset);
  ce::DWORD put = 0;
  if (!ce::WriteFile(file_, buffer, length, &put, nullptr)) put = 0;
  return static_cast<std::int32_t>(put);
}

bool FatFileManager::seek(std::uint32_t offset) {
  moveTo(offset);
  return true;
}

}  // namespace kestrel
