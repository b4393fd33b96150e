#include "handoff/image.h"

#include <cstdio>
#include <fstream>

#include "platform/bytes.h"

namespace kestrel::handoff {

namespace {

std::string formatted(const char* format, unsigned long a, unsigned long b = 0) {
  char line[160];
  std::snprintf(line, sizeof line, format, a, b);
  return line;
}

// A name from a file, fit for one terminal line: other bytes escaped.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> encodeImageHeader(handheld::Family family, const std::string& profile,
                                            const std::string& processor, const std::uint32_t (&r)[4],
                                            std::uint32_t frameCount) {
  return handheld::encodeHandoffImageHeader(family, profile, processor, r, frameCount);
}

void appendFrameRecord(std::vector<std::uint8_t>& out, std::uint32_t physical, const std::uint8_t* bytes) {
  handheld::appendHandoffFrameRecord(out, physical, bytes);
}

std::vector<std::uint8_t> encodeImage(const HandoffImage& image) {
  std::vector<std::uint8_t> out = encodeImageHeader(image.family, image.profile, image.processor, image.r,
                                                    static_cast<std::uint32_t>(image.memory.frameCount()));
  out.reserve(out.size() + image.memory.frameCount() * (4 + FrameSize));
  for (const auto& [base, frame] : image.memory.frames()) appendFrameRecord(out, base, frame.data());
  return out;
}

namespace {

// The processors a hand-off image may name, with their families.
struct KnownProcessor {
  const char* name;
  handheld::Family family;
};
constexpr KnownProcessor knownProcessors[] = {
    {"SA-1100", handheld::Family::SA11x0}, {"SA-1110", handheld::Family::SA11x0}, {"PXA250", handheld::Family::PXA2x0},
    {"PXA255", handheld::Family::PXA2x0},  {"PXA270", handheld::Family::PXA2x0},
};

}  // namespace

bool imageSizeFromHeader(const std::uint8_t* data, std::size_t size, std::uint64_t& expected, std::string& error) {
  if (size < ImageHeaderSize || ce::getLe32(data) != ImageMagic) {
    error = "not a hand-off image";
    return false;
  }
  std::uint32_t version = ce::getLe32(data + 4);
  if (version != ImageVersion) {
    error = formatted("hand-off image version %lu is not supported", version);
    return false;
  }
  std::uint32_t family = ce::getLe32(data + 8);
  if (family > 1) {
    error = formatted("unknown processor family %lu", family);
    return false;
  }
  std::uint32_t p = ce::getLe32(data + 28), q = ce::getLe32(data + 32), frames = ce::getLe32(data + 36);
  if (p > ImageMaxProfileName || q > ImageMaxProcessorName || frames > ImageMaxFrames) {
    error = "bad hand-off image header";
    return false;
  }
  // Everything is bounded above, so the sizes fit 64 bits without wrapping.
  std::uint64_t names = ImageHeaderSize + std::uint64_t{p} + q;
  std::uint64_t first = (names + 3) & ~std::uint64_t{3};
  expected = first + std::uint64_t{frames} * (4 + FrameSize);
  return true;
}

std::string sizeMismatch(std::uint64_t size, std::uint64_t expected) {
  return formatted(size < expected ? "truncated hand-off image (%lu of %lu bytes)" : "hand-off image has %lu bytes, expected %lu",
                   static_cast<unsigned long>(size), static_cast<unsigned long>(expected));
}

bool decodeImage(const std::uint8_t* data, std::size_t size, HandoffImage& image, std::string& error) {
  std::uint64_t expected = 0;
  if (!imageSizeFromHeader(data, size, expected, error)) return false;
  if (size != expected) {
    error = sizeMismatch(size, expected);
    return false;
  }
  const std::uint32_t family = ce::getLe32(data + 8);
  const std::uint32_t p = ce::getLe32(data + 28), q = ce::getLe32(data + 32), frames = ce::getLe32(data + 36);
  const std::uint64_t names = ImageHeaderSize + std::uint64_t{p} + q;
  const std::uint64_t first = (names + 3) & ~std::uint64_t{3};
  // The runners pick the processor model and the second stage by these two: an image whose
  // processor is unknown, or of the other family, cannot be run as what it claims to be.
  const std::string processor(reinterpret_cast<const char*>(data + ImageHeaderSize + p), q);
  const KnownProcessor* known = nullptr;
  for (const KnownProcessor& k : knownProcessors) {
    if (processor == k.name) known = &k;
  }
  if (!known) {
    error = "unknown processor \"" + printable(processor) + "\"";
    return false;
  }
  const handheld::Family claimed = family == 1 ? handheld::Family::PXA2x0 : handheld::Family::SA11x0;
  if (known->family != claimed) {
    error = "processor " + processor + " is not of the " + (claimed == handheld::Family::PXA2x0 ? "PXA-2x0" : "SA-11x0") +
            " family the image names";
    return false;
  }

  for (std::uint64_t pad = names; pad < first; ++pad) {
    if (data[pad] != 0) {
      error = "bad hand-off image header";
      return false;
    }
  }

  HandoffImage result;
  result.family = family == 1 ? handheld::Family::PXA2x0 : handheld::Family::SA11x0;
  for (int i = 0; i < 4; ++i) result.r[i] = ce::getLe32(data + 12 + 4 * i);
  result.profile.assign(reinterpret_cast<const char*>(data + ImageHeaderSize), p);
  result.processor.assign(reinterpret_cast<const char*>(data + ImageHeaderSize + p), q);
  const std::uint8_t* at = data + first;
  std::uint32_t previous = 0;
  for (std::uint32_t i = 0; i < frames; ++i, at += 4 + FrameSize) {
    std::uint32_t base = ce::getLe32(at);
    if (base & FrameMask) {
      error = formatted("frame at 0x%08lx is not 4096-aligned", base);
      return false;
    }
    if (i > 0 && base <= previous) {
      error = formatted("frame at 0x%08lx is out of order", base);
      return false;
    }
    result.memory.write(base, at + 4, FrameSize);
    previous = base;
  }
  image = std::move(result);
  return true;
}

bool writeImage(const std::filesystem::path& file, const HandoffImage& image, std::string& error) {
  std::vector<std::uint8_t> bytes = encodeImage(image);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = "can't write " + file.string();
    return false;
  }
  return true;
}

bool readImage(const std::filesystem::path& file, HandoffImage& image, std::string& error) {
  // A directory or a device is no image; and the whole file is allocated only once its header
  // has said how big it must be and the file is exactly that big.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (ec || !std::filesystem::exists(status)) {
    error = "can't open " + file.string();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    error = file.string() + ": not a regular file";
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  if (ec || !in) {
    error = "can't open " + file.string();
    return false;
  }
  std::uint8_t header[ImageHeaderSize] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  std::uint64_t expected = 0;
  if (!imageSizeFromHeader(header, static_cast<std::size_t>(in.gcount()), expected, error)) {
    error = file.string() + ": " + error;
    return false;
  }
  if (size != expected) {
    error = file.string() + ": " + sizeMismatch(size, expected);
    return false;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    error = "can't read " + file.string();
    return false;
  }
  if (!decodeImage(bytes.data(), bytes.size(), image, error)) {
    error = file.string() + ": " + error;
    return false;
  }
  return true;
}

}  // namespace kestrel::handoff
