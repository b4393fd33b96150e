// The device's own file system (internal storage and storage cards) as a file source.
#pragma once
#include <cstdint>

#include "file/file_manager.h"
#include "platform/types.h"

namespace kestrel {

class FatFileManager final : public FileManager {
 public:
  // Room for 259 characters and the terminator, in both the root and the joined path.
  static constexpr std::uint32_t PathUnits = 260;

  explicit FatFileManager(ConsoleSlot console);
  ~FatFileManager() override;

  // Keeps `directory` as the prefix of every name; refuses one that does not fit.
  bool setRoot(const char16_t* directory) override;
  // Opens root + name (no separator added) for reading, refusing other openers meanwhile.
  bool open(const char16_t* name) override;
  std::uint32_t size() override;
  void close() override;
  std::int32_t read(void* buffer, std::uint32_t length, std::uint32_t offset) override;
  std::int32_t write(const void* buffer, std::uint32_t length, std::uint32_t offset) override;
  bool seek(std::uint32_t offset) override;

  const char16_t* path() const { return path_; }

 private:
  void moveTo(std::uint32_t offset);

  ce::HANDLE file_;
  char16_t root_[PathUnits] = {};
  char16_t path_[PathUnits] = {};
};

}  // namespace kestrel
