// UfsFileManager: the disk is chosen and opened by setRoot; each open attaches a file of the
// UFS reader to the same open-file record.
#include "file/ufs/ufs_file_manager.h"

#include "file/ufs/ufs.h"
#include "platform/heap.h"

namespace kestrel {

UfsFileManager::UfsFileManager(ConsoleSlot console) : FileManager(console) {
  file_ = ce::heapNew<OpenFile>();
  if (file_) file_->device = &winblkEntry;
  this->console().print(u"FileManager: UFS\n");
}

UfsFileManager::~UfsFileManager() {
  if (!file_) return;
  ufsClose(file_);
  winblkClose(file_);
  ce::heapDelete(file_);
}

bool UfsFileManager::setRoot(const char16_t* directory) {
  char root[260];
  if (!file_ || !toAscii(root, directory, sizeof root)) return false;
  const int unit = root[0] >= '1' && root[0] <= '9' && root[1] == ':' ? root[0] - '0' : 1;
  // A second root replaces the first: its file and device are let go before the new disk opens.
  ufsClose(file_);
  winblkClose(file_);
  return winblkOpen(file_, "DSK", unit, 0) == 0;
}

bool UfsFileManager::open(const char16_t* name) {
  if (!file_ || !toAscii(nameBuffer_, name, sizeof nameBuffer_)) return false;
  const int error = file_->deviceData ? ufsOpen(nameBuffer_, file_) : ENoDevice;
  console().print(u"open file \"%s\" ", name);
  if (error != 0) {
    console().print(u"failed.\n");
    return false;
  }
  console().print(u"(%d byte).\n", size());
  return true;
}

std::uint32_t UfsFileManager::size() {
  UfsStat status;
  ufsStat(file_, &status);
  return status.size;
}

void UfsFileManager::close() {
  if (file_) ufsClose(file_);
}

std::int32_t UfsFileManager::read(void* buffer, std::uint32_t length, std::uint32_t offset) {
  if (!file_ || !file_->fileSystemData) return 0;
  if (offset != CurrentPosition) ufsSeek(file_, static_cast<std::int32_t>(offset));
  std::uint32_t remaining = length;
  ufsRead(file_, buffer, length, &remaining);
  return static_cast<std::int32_t>(length - remaining);
}

std::int32_t UfsFileManager::write(const void* buffer, std::uint32_t length, std::uint32_t offset) {
  if (!file_ || !file_->fileSystemData) return 0;
  if (offset != CurrentPosition) ufsSeek(file_, static_cast<std::int32_t>(offset));
  ufsWrite(file_, buffer, length, nullptr);
  return 0;
}

bool UfsFileManager::seek(std::uint32_t offset) {
  if (file_) ufsSeek(file_, static_cast<std::int32_t>(offset));
  return true;
}

}  // namespace kestrel
