#include "handoff/qemu_image.h"
#include "handoff/walk.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>

#include "arch/arm/blobs.h"
#include "platform/bytes.h"

namespace kestrel::handoff {

namespace {

constexpr std::uint32_t End = 0xFFFFFFFF;
constexpr std::uint32_t Page = FrameSize;
constexpr std::size_t KeptOverlaps = 8;

std::string hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

// Where the family's 2nd bootloader writes a destination.
std::uint32_t placed(const HandoffImage& image, std::uint32_t address) {
  return image.family == handheld::Family::PXA2x0 ? (0xA0000000u | (address & 0x00FFFFFFu)) : address;
}

bool inImage(const HandoffImage& image, std::uint32_t start, std::uint32_t length) {
  return image.memory.contains(start, length ? length : 1);
}

}  // namespace

ChainCheck checkChain(const HandoffImage& image) {
  ChainCheck check;
  struct Link {
    std::uint32_t at, next, source, destination, length;
  };
  std::vector<Link> links;
  // A chain longer than every link the frames could hold has a loop.
  const std::uint64_t limit = std::uint64_t{image.memory.frameCount()} * (Page / 16) + 1;
  std::uint32_t at = image.r[1];
  std::uint64_t written = 0;
  while (at != End) {
    std::uint8_t raw[16];
    if (at % 16 != 0 || !image.memory.read(at, raw, 16)) {
      check.errors.push_back("link " + std::to_string(links.size()) + " at " + hex(at) + " is outside the image's pages");
      break;
    }
    if (links.size() >= limit) {
      check.errors.push_back("the chain does not end (a loop through " + hex(at) + ")");
      break;
    }
    Link l{at, ce::getLe32(raw), ce::getLe32(raw + 4), ce::getLe32(raw + 8), ce::getLe32(raw + 12)};
    // The word loops move whole words; the first word of a link is always written.
    std::uint32_t words = l.length < 4 ? 4 : (l.length + 3) & ~3u;
    if (l.length > 0xFFFFFFF0u) words = l.length;
    written += words;
    if (written > MaxChainBytes) {
      check.errors.push_back("link " + std::to_string(links.size()) + " at " + hex(at) + ": the chain writes more than " +
                             std::to_string(MaxChainBytes >> 20) + " MiB");
      break;
    }
    if (l.source != End && !inImage(image, l.source, words))
      check.errors.push_back("link " + std::to_string(links.size()) + " at " + hex(at) + ": source " + hex(l.source) +
                             "+" + hex(l.length) + " is outside the image's pages");
    links.push_back(l);
    at = l.next;
  }
  check.complete = check.errors.empty();

  std::uint32_t entry = 0;
  if (!image.memory.read32(image.r[0], entry)) {
    check.errors.push_back("argument block at " + hex(image.r[0]) + " is outside the image's pages");
    check.complete = false;
  }
  check.entry = placed(image, entry);

  // For every page: the last step of the walk that reads it. Link i is step i; the
  // argument block is read after the last link; the 2nd bootloader's code is read throughout.
  std::map<std::uint32_t, std::uint32_t> lastRead;
  auto reads = [&](std::uint32_t start, std::uint32_t length, std::uint32_t step) {
    std::uint64_t end = std::uint64_t{start} + (length ? length : 1);
    for (std::uint64_t page = start & ~std::uint64_t{Page - 1}; page < end && page < 0x100000000ull; page += Page) {
      auto& last = lastRead[static_cast<std::uint32_t>(page)];
      if (step > last) last = step;
    }
  };
  const auto steps = static_cast<std::uint32_t>(links.size());
  for (std::uint32_t i = 0; i < steps; ++i) {
    reads(links[i].at, 16, i + 1);
    if (links[i].source != End) reads(links[i].source, links[i].length, i + 1);
  }
  reads(image.r[0], 16, steps + 1);
  reads(image.r[3], Page, End);

  for (std::uint32_t i = 0; i < steps; ++i) {
    const Link& l = links[i];
    std::uint32_t destination = placed(image, l.destination);
    if (l.source == End) {
      ++check.zeroLinks;
      check.zeroBytes += l.length;
    } else {
      ++check.loadLinks;
      check.loadBytes += l.length;
    }
    std::uint64_t end = std::uint64_t{destination} + l.length;
    if (destination < check.lowest) check.lowest = destination;
    if (l.length && end - 1 > check.highest) check.highest = static_cast<std::uint32_t>(std::min<std::uint64_t>(end - 1, End));
    for (std::uint64_t page = destination & ~std::uint64_t{Page - 1}; page < end && page < 0x100000000ull; page += Page) {
      auto it = lastRead.find(static_cast<std::uint32_t>(page));
      if (it == lastRead.end() || it->second <= i + 1) continue;
      ++check.overlapCount;
      if (check.overlaps.size() < KeptOverlaps) {
        std::string reader = it->second == End         ? "the 2nd bootloader"
                             : it->second == steps + 1 ? "the argument block"
                                                       : "link " + std::to_string(it->second - 1);
        check.overlaps.push_back("link " + std::to_string(i) + " writes " + hex(destination) + "+" + hex(l.length) +
                                 " over page " + hex(static_cast<std::uint32_t>(page)) + ", read later by " + reader);
      }
    }
  }
  check.links = steps;
  return check;
}

QemuResult runImageInQemu(const HandoffImage& image, const ImageRun& run) {
  QemuResult refused;
  refused.status = QemuResult::Status::Failed;
  std::optional<QemuBoard> board = boardForProcessor(image.processor);
  if (!board) {
    refused.error = "no QEMU board for the processor \"" + image.processor + "\"";
    return refused;
  }
  const QemuBoardInfo& info = boardInfo(*board);
  auto onBoard = [&](std::uint32_t physical) {
    return physical >= info.ramBase && physical - info.ramBase < info.ramSize;
  };

  // Everything the walk touches must be in the board's RAM, or the run would only show a
  // machine QEMU does not have.
  ChainCheck chain = checkChain(image);
  if (!chain.errors.empty()) {
    refused.error = chain.errors.front();
    return refused;
  }
  for (std::uint32_t r : {image.r[0], image.r[1], image.r[3], image.r[2] - 1}) {
    if (!onBoard(r)) {
      refused.error = hex(r) + " is outside the RAM of QEMU's " + info.machine;
      return refused;
    }
  }
  if (chain.links && (!onBoard(chain.lowest) || !onBoard(chain.highest))) {
    refused.error = "the chain writes " + hex(chain.lowest) + "-" + hex(chain.highest) + ", outside the RAM of QEMU's " +
                    info.machine;
    return refused;
  }

  std::error_code ec;
  std::filesystem::path dir = run.workDir;
  bool temporary = dir.empty();
  if (temporary) {
    char name[64];
    std::snprintf(name, sizeof name, "kestrel-qemu-%d-%p", static_cast<int>(::getpid()), static_cast<const void*>(&image));
    dir = std::filesystem::temp_directory_path(ec) / name;
  }
  std::filesystem::create_directories(dir, ec);

  QemuLaunch launch;
  launch.board = *board;
  launch.executable = run.executable;
  bool ok = true;
  // One file per run of adjacent frames on the board.
  const auto& frames = image.memory.frames();
  for (auto it = frames.begin(); it != frames.end() && ok;) {
    if (!onBoard(it->first)) {
      ++it;
      continue;
    }
    std::uint32_t start = it->first, next = start;
    std::filesystem::path file = dir / ("ram-" + hex(start) + ".bin");
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    while (it != frames.end() && it->first == next && onBoard(it->first)) {
      out.write(reinterpret_cast<const char*>(it->second.data()), Page);
      next += Page;
      ++it;
    }
    ok = static_cast<bool>(out);
    launch.memory.push_back({start, file});
  }
  bool pxa = image.family == handheld::Family::PXA2x0;
  std::vector<std::uint8_t> rom = pxa ? startRom(image.r, arm::flatJumpPxa2x0, arm::flatJumpPxa2x0Size)
                                      : startRom(image.r, arm::flatJumpSa11x0, arm::flatJumpSa11x0Size);
  launch.rom = dir / "rom.bin";
  {
    std::ofstream out(launch.rom, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(rom.data()), static_cast<std::streamsize>(rom.size()));
    ok = ok && static_cast<bool>(out);
  }
  QemuResult result;
  if (!ok) {
    result = refused;
    result.error = "can't write the RAM files into " + dir.string();
  } else {
    result = runQemu(launch, run.options);
  }
  if (temporary) std::filesystem::remove_all(dir, ec);
  return result;
}

}  // namespace kestrel::handoff
