#include "tests/support/gzip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

namespace kestrel_testing {

Bytes zlibGzip(const Bytes& content, const GzipHeaderFields& fields, const GzipDeflate& deflate) {
  z_stream z{};
  // Window bits 15 + 16: a gzip wrapper written by zlib, header fields from deflateSetHeader.
  EXPECT_EQ(deflateInit2(&z, deflate.level, Z_DEFLATED, 15 + 16, deflate.memLevel, Z_DEFAULT_STRATEGY), Z_OK);
  gz_header header{};
  std::string extra = fields.extra, name = fields.name, comment = fields.comment;
  header.os = 3;
  header.extra = fields.extra.empty() ? Z_NULL : reinterpret_cast<Bytef*>(extra.data());
  header.extra_len = static_cast<uInt>(extra.size());
  header.name = fields.name.empty() ? Z_NULL : reinterpret_cast<Bytef*>(name.data());
  header.comment = fields.comment.empty() ? Z_NULL : reinterpret_cast<Bytef*>(comment.data());
  header.hcrc = fields.headerCrc ? 1 : 0;
  EXPECT_EQ(deflateSetHeader(&z, &header), Z_OK);
  Bytes out(deflateBound(&z, static_cast<uLong>(content.size())) + 64 + extra.size() + name.size() + comment.size());
  z.next_in = const_cast<Bytef*>(content.data());
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace kestrel_testing

namespace kestrel_testing {

namespace {

Bytes cut(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size())));
}

void putLe32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes storedGzip(const Bytes& content) {
  Bytes out{0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x03};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(content.size() - at, 65535);
    const bool last = at + n == content.size();
    out.push_back(last ? 0x01 : 0x00);  // BFINAL, BTYPE 00 (stored)
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(~n));
    out.push_back(static_cast<std::uint8_t>(~n >> 8));
    out.insert(out.end(), content.begin() + static_cast<std::ptrdiff_t>(at),
               content.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < content.size());
  putLe32(out, static_cast<std::uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size()))));
  putLe32(out, static_cast<std::uint32_t>(content.size()));
  return out;
}

std::vector<GzipDamage> gzipDamages(const Bytes& content, const Bytes& good, const Bytes& full,
                                    std::size_t fullHeaderBytes) {
  std::vector<GzipDamage> cases;
  auto damaged = [&](std::string what, Bytes file, bool allContent) {
    cases.push_back({std::move(what), std::move(file), allContent});
  };
  const std::size_t n = good.size();
  for (int bit : {0x20, 0x40, 0x80}) {
    Bytes b = good;
    b[3] |= static_cast<std::uint8_t>(bit);
    damaged("reserved flag " + std::to_string(bit), b, false);
  }
  Bytes method = good;
  method[2] = 7;
  damaged("method 7", method, false);
  for (std::size_t at = 2; at <= fullHeaderBytes; ++at) damaged("header cut at " + std::to_string(at), cut(full, at), false);
  Bytes crc = good;
  crc[n - 8] ^= 0x01;
  damaged("wrong trailer CRC", crc, true);
  Bytes length = good;
  length[n - 1] ^= 0x80;
  damaged("wrong trailer length", length, true);
  // Cut inside the CRC word and inside the length word: every byte of the trailer counts.
  for (std::size_t kept = 0; kept < 8; ++kept) damaged("trailer cut after " + std::to_string(kept), cut(good, n - 8 + kept), true);
  // The source ends before the deflate data does.
  for (std::size_t at : {std::size_t{11}, n / 3, n / 2, n - 9}) damaged("deflate data cut at " + std::to_string(at), cut(good, at), false);
  Bytes badSecond = good;
  for (std::uint8_t b : {0x1F, 0x8B, 0x07, 0x00}) badSecond.push_back(b);
  damaged("second member with method 7", badSecond, true);
  Bytes secondCut = good;
  for (std::uint8_t b : {0x1F, 0x8B, 0x08}) secondCut.push_back(b);
  damaged("second member header cut", secondCut, true);
  return cases;
}

Bytes alteredUnderItsCrc(const Bytes& content, std::size_t at) {
  Bytes file = storedGzip(content);
  // Behind the 10-byte header, the stored blocks' 5-byte heads in front of byte `at`.
  file[10 + 5 * (at / 65535 + 1) + at] ^= 0x40;
  return file;
}

}  // namespace kestrel_testing
