// Gzip members written by zlib in the test program itself: no tool to start, so the same
// inputs are made in both builds, the Windows one included.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel_testing {

using Bytes = std::vector<std::uint8_t>;

// The optional header fields zlib knows how to set; empty ones are left out.
struct GzipHeaderFields {
  std::string extra, name, comment;
  bool headerCrc = false;
};

// `content` as one gzip member (best compression), with `fields` in its header.
Bytes zlibGzip(const Bytes& content, const GzipHeaderFields& fields = {});

}  // namespace kestrel_testing
