#include "file/sources.h"

#include <string_view>

#include "common/os_version.h"
#include "file/fat_file_manager.h"
#include "file/http_file_manager.h"
#include "platform/heap.h"

namespace kestrel {

namespace {

// Stands in for a source this build does not have: it says so when the root is set, which
// fails the boot at "Can't set root directory." instead of somewhere obscure.
class UnavailableSource final : public FileManager {
 public:
  UnavailableSource(ConsoleSlot console, const char16_t* kind) : FileManager(console), kind_(kind) {}
  bool setRoot(const char16_t*) override {
    console().print(u"%s source is not available in this build yet.\n", kind_);
    return false;
  }
  bool open(const char16_t*) override { return false; }
  std::uint32_t size() override { return 0; }
  void close() override {}
  std::int32_t read(void*, std::uint32_t, std::uint32_t) override { return -1; }
  std::int32_t write(const void*, std::uint32_t, std::uint32_t) override { return 0; }
  bool seek(std::uint32_t) override { return false; }

 private:
  const char16_t* kind_;
};

}  // namespace

SourceType sourceTypeFor(const char16_t* directory) {
  std::u16string_view text = directory ? std::u16string_view(directory) : std::u16string_view();
  if (text.find(u"http://") != std::u16string_view::npos) return SourceType::Http;
  if (text.find(u'/') != std::u16string_view::npos) return SourceType::Ufs;
  return SourceType::Fat;
}

FileManager* makeSource(ConsoleSlot console, SourceType type) {
  switch (type) {
    case SourceType::Fat:
      return ce::heapNew<FatFileManager>(console);
    case SourceType::Http:
      // The HTTP source chooses its WinSock start-up by the version the system probe recorded.
      return ce::heapNew<HttpFileManager>(console, osVersion);
    case SourceType::Ufs:
      return ce::heapNew<UnavailableSource>(console, u"ufs");
  }
  return nullptr;
}

}  // namespace kestrel
