// Where kernels and images come from: the source a kernel directory names, and the one place
// that makes the source for it. The boot object and `kestrel cat` both choose through here;
// the gzip layer receives the source made here and owns it.
#pragma once
#include <cstdint>

#include "file/file_manager.h"

namespace kestrel {

// The codes are the system's own source type numbers.
enum class SourceType : std::int32_t {
  Fat = 0,   // the device's own file system ("\Storage Card\")
  Ufs = 1,   // a UFS partition of a block device ("/", "2:/")
  Http = 2,  // an HTTP server ("http://host/dir/")
};

// The source a kernel directory names: Http when the text contains "http://" anywhere,
// otherwise Ufs when it contains a '/' anywhere, otherwise Fat.
SourceType sourceTypeFor(const char16_t* directory);

// The source of `type`, made on the platform heap; null when the allocation fails.
FileManager* makeSource(ConsoleSlot console, SourceType type);

}  // namespace kestrel
