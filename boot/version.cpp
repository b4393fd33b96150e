#include "boot/version.h"

namespace kestrel {
// Anchors the core library; the number itself is a constant of the header.
extern const int buildNumberValue = BuildNumber;
}  // namespace kestrel
