// Gzip members written by zlib in the test program itself: no tool to start, so the same
// inputs are made in both builds, the Windows one included.
#pragma once
#include <cstdint>
#include <string>
#include <cstddef>
#include <vector>

namespace kestrel_testing {

using Bytes = std::vector<std::uint8_t>;

// The optional header fields zlib knows how to set; empty ones are left out.
struct GzipHeaderFields {
  std::string extra, name, comment;
  bool headerCrc = false;
};

// How deflate works: best compression by default; a memory level of 1 gives the smallest
// symbol buffer, a block every hundred or so symbols.
struct GzipDeflate {
  int level = 9;
  int memLevel = 8;
};

// `content` as one gzip member, with `fields` in its header.
Bytes zlibGzip(const Bytes& content, const GzipHeaderFields& fields = {}, const GzipDeflate& deflate = {});

// `content` as one gzip member of stored deflate blocks: every content byte stands as it is in
// the file, so one can be altered without inflate noticing; only the trailer's CRC can.
Bytes storedGzip(const Bytes& content);

// One way a gzip file is damaged.
struct GzipDamage {
  std::string what;
  Bytes file;
  bool allContent;  // the damage lies behind the last byte of content
};

// Every place a gzip file can be damaged: reserved flags, the method, a header cut at each byte
// (of `full`, a member of `content` with every optional header field, `fullHeaderBytes` long),
// the trailer's CRC and length, a trailer cut at each byte, deflate data cut short, a second
// member that is damaged. `good` is a plain member of `content`.
std::vector<GzipDamage> gzipDamages(const Bytes& content, const Bytes& good, const Bytes& full,
                                    std::size_t fullHeaderBytes);

// `content` as a member that inflates without complaint but whose byte `at` was altered after
// its CRC was taken: only the trailer tells.
Bytes alteredUnderItsCrc(const Bytes& content, std::size_t at);

}  // namespace kestrel_testing
