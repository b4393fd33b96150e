// The running system's version, as the system probe recorded it: rewritten by every
// systemInfo of the architecture (arch/), all zero until the first. The HTTP source chooses its
// WinSock start-up by it when it is made.
#pragma once
#include "platform/system.h"

namespace kestrel {

extern ce::OSVERSIONINFOW osVersion;

}  // namespace kestrel
