#include "platform/handheld/handoff_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/bytes.h"

namespace handheld {

namespace {

class Writer {
 public:
  explicit Writer(std::ofstream& out) : out_(out) {}
  void u32(std::uint32_t v) {
    std::uint8_t b[4];
    ce::putLe32(b, v);
    bytes(b, 4);
  }
  void text(const std::string& s) {
    u32(static_cast<std::uint32_t>(s.size()));
    bytes(s.data(), s.size());
  }
  void bytes(const void* p, std::size_t n) { out_.write(static_cast<const char*>(p), static_cast<std::streamsize>(n)); }

 private:
  std::ofstream& out_;
};

// Reads from the file with the bytes left counted, so that no count in the file can ask for
// more than is there.
class Reader {
 public:
  Reader(std::ifstream& in, std::uint64_t size) : in_(in), left_(size) {}
  bool bytes(void* p, std::uint64_t n) {
    if (n > left_) return false;
    in_.read(static_cast<char*>(p), static_cast<std::streamsize>(n));
    if (!in_) return false;
    left_ -= n;
    return true;
  }
  bool u32(std::uint32_t& v) {
    std::uint8_t b[4];
    if (!bytes(b, 4)) return false;
    v = ce::getLe32(b);
    return true;
  }
  bool text(std::string& s, std::uint32_t limit) {
    std::uint32_t n = 0;
    if (!u32(n) || n > limit || n > left_) return false;
    s.assign(n, '\0');
    return bytes(s.data(), n);
  }
  std::uint64_t left() const { return left_; }

 private:
  std::ifstream& in_;
  std::uint64_t left_;
};

void writeHeader(Writer& w, const HandoffImage& image, std::uint32_t frameCount) {
  w.bytes(HandoffImage::Magic, sizeof HandoffImage::Magic);
  w.u32(HandoffImage::Version);
  w.u32(image.family == Family::PXA2x0 ? 1 : 0);
  for (std::uint32_t r : image.r) w.u32(r);
  w.u32(image.cpsr);
  w.u32(image.cpu);
  w.u32(image.machine);
  w.u32(image.cp15Id);
  w.u32(static_cast<std::uint32_t>(image.banks.size()));
  for (const DramBank& b : image.banks) {
    w.u32(b.base);
    w.u32(b.size);
  }
  w.text(image.profile);
  w.text(image.processor);
  w.u32(frameCount);
}

bool inBank(const std::vector<DramBank>& banks, std::uint32_t physical) {
  for (const DramBank& b : banks)
    if (physical >= b.base && physical - b.base < b.size) return true;
  return false;
}

}  // namespace

const HandoffImage::Frame* HandoffImage::frameAt(std::uint32_t physical) const {
  std::uint32_t base = physical & ~(FrameSize - 1);
  auto it = std::lower_bound(frames.begin(), frames.end(), base,
                             [](const Frame& f, std::uint32_t a) { return f.physical < a; });
  if (it == frames.end() || it->physical != base) return nullptr;
  return &*it;
}

bool HandoffImage::read(std::uint32_t physical, void* out, std::uint32_t length) const {
  auto* dst = static_cast<std::uint8_t*>(out);
  while (length > 0) {
    const Frame* f = frameAt(physical);
    if (!f) return false;
    std::uint32_t offset = physical - f->physical;
    std::uint32_t n = std::min(length, FrameSize - offset);
    std::memcpy(dst, f->data.data() + offset, n);
    dst += n;
    length -= n;
    if (length > 0 && physical + n < physical) return false;  // would wrap past 4 GiB
    physical += n;
  }
  return true;
}

bool HandoffImage::word(std::uint32_t physical, std::uint32_t& value) const {
  std::uint8_t b[4];
  if (!read(physical, b, 4)) return false;
  value = ce::getLe32(b);
  return true;
}

bool writeHandoffImage(const std::filesystem::path& file, const HandoffImage& header, std::uint32_t frameCount,
                       const FrameSource& frames, std::string& error) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "can't create " + file.string();
    return false;
  }
  Writer w(out);
  writeHeader(w, header, frameCount);
  std::uint32_t written = 0;
  if (frames) {
    frames([&](std::uint32_t physical, const std::uint8_t* data) {
      if (written == frameCount) return;
      w.u32(physical);
      w.bytes(data, HandoffImage::FrameSize);
      ++written;
    });
  }
  out.flush();
  if (!out || written != frameCount) {
    error = written != frameCount ? "frame count does not match the frames written" : "can't write " + file.string();
    return false;
  }
  return true;
}

bool writeHandoffImage(const std::filesystem::path& file, const HandoffImage& image, std::string& error) {
  for (const auto& f : image.frames) {
    if (f.data.size() != HandoffImage::FrameSize) {
      error = "a frame is not 4096 bytes";
      return false;
    }
  }
  return writeHandoffImage(
      file, image, static_cast<std::uint32_t>(image.frames.size()),
      [&](const auto& put) {
        for (const auto& f : image.frames) put(f.physical, f.data.data());
      },
      error);
}

bool readHandoffImage(const std::filesystem::path& file, HandoffImage& image, std::string& error) {
  std::error_code ec;
  std::uint64_t size = std::filesystem::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  if (ec || !in) {
    error = "can't open " + file.string();
    return false;
  }
  Reader r(in, size);
  image = HandoffImage{};
  char magic[8];
  std::uint32_t version = 0, family = 0, bankCount = 0, frameCount = 0;
  if (!r.bytes(magic, 8) || std::memcmp(magic, HandoffImage::Magic, 8) != 0) {
    error = "not a hand-off image";
    return false;
  }
  if (!r.u32(version) || version != HandoffImage::Version) {
    error = "unsupported hand-off image version " + std::to_string(version);
    return false;
  }
  if (!r.u32(family) || family > 1) {
    error = "unknown processor family " + std::to_string(family);
    return false;
  }
  image.family = family == 1 ? Family::PXA2x0 : Family::SA11x0;
  bool ok = r.u32(image.r[0]) && r.u32(image.r[1]) && r.u32(image.r[2]) && r.u32(image.r[3]) && r.u32(image.cpsr) &&
            r.u32(image.cpu) && r.u32(image.machine) && r.u32(image.cp15Id) && r.u32(bankCount);
  // A machine has a handful of banks; the limit keeps a damaged count from allocating much.
  if (!ok || bankCount > 64) {
    error = "damaged header";
    return false;
  }
  for (std::uint32_t i = 0; i < bankCount; ++i) {
    DramBank b;
    std::uint32_t end = 0;
    if (!r.u32(b.base) || !r.u32(b.size) || !ce::addNoWrap(b.base, b.size - (b.size ? 1 : 0), end)) {
      error = "damaged bank table";
      return false;
    }
    image.banks.push_back(b);
  }
  if (!r.text(image.profile, 256) || !r.text(image.processor, 64) || !r.u32(frameCount)) {
    error = "damaged header";
    return false;
  }
  if (static_cast<std::uint64_t>(frameCount) * (4 + HandoffImage::FrameSize) != r.left()) {
    error = "frame count " + std::to_string(frameCount) + " does not match the file's size";
    return false;
  }
  image.frames.resize(frameCount);
  for (std::uint32_t i = 0; i < frameCount; ++i) {
    HandoffImage::Frame& f = image.frames[i];
    f.data.resize(HandoffImage::FrameSize);
    if (!r.u32(f.physical) || !r.bytes(f.data.data(), HandoffImage::FrameSize)) {
      error = "image cut short";
      return false;
    }
    if (f.physical % HandoffImage::FrameSize != 0 || !inBank(image.banks, f.physical) ||
        (i > 0 && f.physical <= image.frames[i - 1].physical)) {
      char text[80];
      std::snprintf(text, sizeof text, "frame %u at 0x%08x is misplaced", static_cast<unsigned>(i),
                    static_cast<unsigned>(f.physical));
      error = text;
      return false;
    }
  }
  return true;
}

}  // namespace handheld
