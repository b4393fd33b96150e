// The source that reads kernels and images from a UFS partition of a block device (a storage
// card the platform names DSK1:, DSK2: ...): the FileManager face of winblk and the UFS reader.
#pragma once
#include <cstdint>

#include "file/file_manager.h"
#include "file/ufs/winblk.h"

namespace kestrel {

class UfsFileManager final : public FileManager {
 public:
  explicit UfsFileManager(ConsoleSlot console);
  // Closes the open file and the device: the disk opens exclusively, and the next boot
  // attempt's manager opens it again.
  ~UfsFileManager() override;

  // "N:..." with N from 1 to 9 selects DSKN:, anything else DSK1:; the rest of the text is not
  // used (names are looked up from the root). Opens the disk and finds the partition.
  bool setRoot(const char16_t* directory) override;
  bool open(const char16_t* name) override;
  std::uint32_t size() override;
  void close() override;
  std::int32_t read(void* buffer, std::uint32_t length, std::uint32_t offset) override;
  // Nothing is ever written: 0.
  std::int32_t write(const void* buffer, std::uint32_t length, std::uint32_t offset) override;
  bool seek(std::uint32_t offset) override;

  // The open-file record (for tests): device and file-system data.
  const OpenFile* openFile() const { return file_; }

 private:
  OpenFile* file_ = nullptr;
};

}  // namespace kestrel
