#include "tests/support/gzip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace kestrel_testing {

Bytes zlibGzip(const Bytes& content, const GzipHeaderFields& fields) {
  z_stream z{};
  // Window bits 15 + 16: a gzip wrapper written by zlib, header fields from deflateSetHeader.
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
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
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace kestrel_testing
