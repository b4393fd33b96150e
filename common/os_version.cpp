#include "common/os_version.h"

namespace kestrel {

ce::OSVERSIONINFOW osVersion{0, 0, 0, 0, 0, {}};

}  // namespace kestrel
