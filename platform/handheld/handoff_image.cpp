#include "platform/handheld/handoff_image.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/bytes.h"

namespace handheld {

namespace {

void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  ce::putLe32(b, v);
  out.insert(out.end(), b, b + 4);
}

}  // namespace

std::vector<std::uint8_t> encodeHandoffImageHeader(Family family, const std::string& profile,
                                                   const std::string& processor, const std::uint32_t (&r)[4],
                                                   std::uint32_t frameCount) {
  std::string p = profile.substr(0, HandoffMaxProfileName);
  std::string q = processor.substr(0, HandoffMaxProcessorName);
  std::vector<std::uint8_t> header;
  appendLe32(header, HandoffImageMagic);
  appendLe32(header, HandoffImageVersion);
  appendLe32(header, family == Family::PXA2x0 ? 1 : 0);
  for (std::uint32_t v : r) appendLe32(header, v);
  appendLe32(header, static_cast<std::uint32_t>(p.size()));
  appendLe32(header, static_cast<std::uint32_t>(q.size()));
  appendLe32(header, frameCount);
  header.insert(header.end(), p.begin(), p.end());
  header.insert(header.end(), q.begin(), q.end());
  while (header.size() % 4) header.push_back(0);
  return header;
}

void appendHandoffFrameRecord(std::vector<std::uint8_t>& out, std::uint32_t physical, const std::uint8_t* bytes) {
  appendLe32(out, physical);
  out.insert(out.end(), bytes, bytes + HandoffFrameSize);
}

bool writeHandoffImage(const std::filesystem::path& file, Family family, const std::string& profile,
                       const std::string& processor, const std::uint32_t (&r)[4], std::uint32_t frameCount,
                       const FrameSource& frames, std::string& error) {
  const std::vector<std::uint8_t> header = encodeHandoffImageHeader(family, profile, processor, r, frameCount);
  errno = 0;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    // Which file, and why: the system's reason when it gave one.
    error = "can't create " + file.string() + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  std::uint32_t written = 0;
  if (frames) {
    frames([&](std::uint32_t physical, const std::uint8_t* data) {
      if (written == frameCount) return;
      std::vector<std::uint8_t> record;
      appendHandoffFrameRecord(record, physical, data);
      out.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
      ++written;
    });
  }
  out.flush();
  if (written != frameCount) {
    error = "the frames written do not match the frame count";
    return false;
  }
  if (!out) {
    error = "can't write " + file.string() + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  return true;
}

}  // namespace handheld
