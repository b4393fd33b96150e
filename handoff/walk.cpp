#include "handoff/walk.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::handoff {

namespace {

constexpr std::uint32_t End = 0xFFFFFFFFu;

std::string hex(const char* format, std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0) {
  char line[160];
  std::snprintf(line, sizeof line, format, static_cast<unsigned>(a), static_cast<unsigned>(b), static_cast<unsigned>(c));
  return line;
}

}  // namespace

std::uint32_t rebase(handheld::Family family, std::uint32_t address) {
  if (family != handheld::Family::PXA2x0) return address;
  return 0xA0000000u | (address & 0x00FFFFFFu);
}

bool walkChain(const HandoffImage& image, WalkResult& result, std::string& error, const WalkOptions& options) {
  WalkResult r;
  r.memory = image.memory;
  PhysicalMemory& m = r.memory;
  const std::uint32_t stagePage = image.r[3] & ~FrameMask;

  std::uint32_t link = image.r[1];
  std::uint32_t end = 0;  // end of the last link processed; 0 while there is none
  std::uint64_t stored = 0;
  while (link != End) {
    if (r.links.size() >= options.maxLinks) {
      error = hex("more than %u links; the chain loops", static_cast<std::uint32_t>(options.maxLinks));
      return false;
    }
    std::uint32_t w[4];
    if (link & 3) {
      error = hex("link 0x%08x is not word aligned", link);
      return false;
    }
    for (int i = 0; i < 4; ++i) {
      if (!m.read32(link + 4 * i, w[i])) {
        error = hex("link 0x%08x is not in the image", link);
        return false;
      }
    }
    WalkedLink l;
    l.at = link;
    l.source = w[1];
    l.destination = rebase(image.family, w[2]);
    l.length = w[3];
    std::uint32_t dst = l.destination;
    std::uint64_t stop = std::uint64_t{dst} + l.length;
    // Whole words, at least one: the routine stores before it compares.
    std::uint64_t storedEnd = std::max<std::uint64_t>(dst + 4ull, (stop + 3) & ~std::uint64_t{3});
    if (dst & 3) {
      error = hex("link 0x%08x: destination 0x%08x is not word aligned", link, dst);
      return false;
    }
    if (storedEnd > 0xFFFFFFFFull) {
      error = hex("link 0x%08x: destination 0x%08x + 0x%x passes 4 GiB", link, dst, l.length);
      return false;
    }
    if (dst < std::uint64_t{stagePage} + FrameSize && storedEnd > stagePage) {
      error = hex("link 0x%08x: destination 0x%08x + 0x%x covers the second stage", link, dst, l.length);
      return false;
    }
    stored += storedEnd - dst;
    if (stored > options.maxStoredBytes) {
      error = hex("link 0x%08x: the chain stores more than %u MiB", link,
                  static_cast<std::uint32_t>(options.maxStoredBytes >> 20));
      return false;
    }
    end = static_cast<std::uint32_t>(stop);

    if (l.zero()) {
      do {
        m.write32(dst, 0);
        dst += 4;
      } while (dst < stop);
    } else {
      std::uint32_t src = l.source;
      if (src & 3) {
        error = hex("link 0x%08x: source 0x%08x is not word aligned", link, src);
        return false;
      }
      // Two words read per pass, the second stored only while below the end; reads and
      // writes interleave exactly as on the processor, which matters when ranges overlap.
      do {
        std::uint32_t a, b;
        if (!m.read32(src, a) || !m.read32(src + 4, b)) {
          error = hex("link 0x%08x: source 0x%08x + 0x%x is not in the image", link, l.source, l.length);
          return false;
        }
        src += 8;
        m.write32(dst, a);
        dst += 4;
        if (dst < stop) {
          m.write32(dst, b);
          dst += 4;
        }
      } while (dst < stop);
    }
    l.stored = dst - l.destination;
    r.links.push_back(l);
    link = w[0];
  }

  r.sp = end == 0 ? image.r[2] : ((end + 0x2000u) >> 12) << 12;
  std::uint32_t block[4];
  for (int i = 0; i < 4; ++i) {
    if (!m.read32(image.r[0] + 4 * i, block[i])) {
      error = hex("argument block 0x%08x is not in the image", image.r[0]);
      return false;
    }
  }
  r.entry = rebase(image.family, block[0]);
  r.r0 = block[1];
  r.r1 = block[2];
  r.r2 = block[3];
  result = std::move(r);
  return true;
}

}  // namespace kestrel::handoff
