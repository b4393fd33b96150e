// Whole files on the build machine (not on the simulated device), read and written as bytes.
#pragma once
#include <cstdint>
#include <filesystem>
#include <vector>

namespace kestrel_testing {

using Bytes = std::vector<std::uint8_t>;

// The whole file; empty when it cannot be read.
Bytes readBytes(const std::filesystem::path& path);
// Replaces the file with `bytes`.
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace kestrel_testing
