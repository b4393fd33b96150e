#include "file/sources.h"

#include <string_view>

#include "common/os_version.h"
#include "file/fat_file_manager.h"
#include "file/http_file_manager.h"
#include "file/ufs/ufs_file_manager.h"
#include "platform/heap.h"

namespace kestrel {

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
      return ce::heapNew<UfsFileManager>(console);
  }
  return nullptr;
}

}  // namespace kestrel
