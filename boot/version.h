// The build number shown in the title and printed at every boot.
#pragma once

namespace kestrel {
constexpr int BuildNumber = 15;
}
