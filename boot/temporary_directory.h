// The first storage card: on the handheld a mounted card is listed in the root directory as
// a directory with the temporary attribute.
#pragma once
#include "platform/files.h"

namespace kestrel {

constexpr int TemporaryDirectoryUnits = ce::MaxPath;  // 260

// On success `buffer` (260 units) holds the bare name of the first entry of the root listing
// that is a directory with the temporary attribute, e.g. "Storage Card".
bool findTemporaryDirectory(char16_t* buffer);

}  // namespace kestrel
