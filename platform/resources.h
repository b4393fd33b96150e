// String resources of the program. One table of texts serves both builds: the host build
// compiles it in, the win32 build links it as the program's STRINGTABLE resource.
#pragma once
#include "platform/types.h"

namespace ce {

// As the platform's own: copies string `id` into buffer (bufferMax units, terminator
// included) and returns its length; 0 when there is no such string. With bufferMax 0 the
// buffer receives a read-only pointer to the string in place.
int LoadStringW(HINSTANCE instance, UINT id, WCHAR* buffer, int bufferMax);

// The program's instance handle (what the entry point received).
HINSTANCE programInstance();

}  // namespace ce
