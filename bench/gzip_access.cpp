// What reading a compressed kernel costs the way a boot reads it. The ELF loader looks at the
// header twice, jumps to the section headers at the end, comes back for the program headers,
// jumps to the section-name table, then loads the segments from the start and finally the
// symbol and string tables. Without access points each step back restarts inflation at the
// start of the file and each step forward inflates what lies between, so the pattern inflates
// the file several times over; with them a step goes on from the nearest point. This measures
// both, in the same run, next to a straight `kestrel cat` and `gzip -dc` of the same file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <ctime>

#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "file/sources.h"
#include "platform/bytes.h"
#include "platform/handheld/machine.h"

namespace {

namespace fs = std::filesystem;

// Layout of the kernel-like file (8 MiB).
constexpr std::uint32_t FileBytes = 8u << 20;
constexpr std::uint32_t TextStart = 0x1000, TextEnd = 0x501000;      // code
constexpr std::uint32_t DataEnd = 0x601000;                          // initialised data
constexpr std::uint32_t ZeroEnd = 0x701000;                          // zero-filled data
constexpr std::uint32_t SymtabEnd = 0x7A1000;                        // 16-byte symbols
constexpr std::uint32_t StrtabEnd = 0x7FF000;                        // symbol names
constexpr std::uint32_t Shstrtab = 0x7FF000, ShstrtabBytes = 256;    // section names
constexpr std::uint32_t Shoff = 0x7FF100, Shnum = 12, ShentBytes = 40;
constexpr std::uint32_t PageBytes = 4096;

struct Setup {
  fs::path handheld;
  fs::path compressed;  // host path of \Storage Card\corvid.gz
  std::uint64_t contentBytes = FileBytes;
};
Setup setup;

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

std::vector<std::uint8_t> kernelImage() {
  std::vector<std::uint8_t> image(FileBytes, 0);
  std::mt19937 random(2026);
  // ELF header and three program headers: enough for the first bytes to look right.
  const std::uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0};
  std::copy(std::begin(ident), std::end(ident), image.begin());
  ce::putLe16(&image[16], 2);   // executable
  ce::putLe16(&image[18], 40);  // ARM
  ce::putLe32(&image[28], 52);
  ce::putLe32(&image[32], Shoff);
  ce::putLe16(&image[42], 32);
  ce::putLe16(&image[44], 3);
  ce::putLe16(&image[46], ShentBytes);
  ce::putLe16(&image[48], Shnum);
  ce::putLe16(&image[50], 1);
  // Code: a few hundred distinct instruction words with a changing low field, as a compiler
  // leaves them.
  std::uint32_t words[512];
  for (auto& w : words) w = 0xE0000000u | (random() & 0x0FFFFFFFu);
  for (std::uint32_t at = TextStart; at < TextEnd; at += 4) {
    std::uint32_t w = words[random() % 512];
    if (random() % 4 == 0) w = (w & ~0xFFFu) | (random() & 0xFFFu);
    ce::putLe32(&image[at], w);
  }
  // Data: pointers into the text, small counters and message text.
  static const char message[] = "wd0: cannot read disk label; trying the storage card partition\n";
  for (std::uint32_t at = TextEnd; at < DataEnd; at += 64) {
    for (std::uint32_t k = 0; k < 32; k += 4) ce::putLe32(&image[at + k], 0xC0001000u + (random() % 0x500000u & ~3u));
    for (std::uint32_t k = 32; k < 64; ++k) image[at + k] = static_cast<std::uint8_t>(message[(at / 64 + k) % (sizeof message - 1)]);
  }
  // Zero fill up to ZeroEnd is already there. Symbols: rising name offsets and addresses.
  std::uint32_t name = 1, value = 0xC0001000u;
  for (std::uint32_t at = ZeroEnd; at < SymtabEnd; at += 16) {
    ce::putLe32(&image[at], name);
    ce::putLe32(&image[at + 4], value += 4 + random() % 256 * 4);
    ce::putLe32(&image[at + 8], random() % 512);
    image[at + 12] = static_cast<std::uint8_t>(0x12 + random() % 2);
    ce::putLe16(&image[at + 14], 1 + random() % 8);
    name += 12;
  }
  static const char* const parts[] = {"vm_", "uvm_", "pmap_", "sys_", "_init", "_attach", "_intr", "sa11x0_", "pxa2x0_",
                                      "com", "wd", "lock", "page", "fault", "map", "copy"};
  for (std::uint32_t at = SymtabEnd; at + 16 < StrtabEnd;) {
    for (int k = 0; k < 3; ++k)
      for (const char* c = parts[random() % 16]; *c && at < StrtabEnd - 1; ++c) image[at++] = *c;
    image[at++] = 0;
  }
  static const char sectionNames[] = "\0.text\0.data\0.bss\0.symtab\0.strtab\0.shstrtab\0.rodata\0.comment";
  std::copy(std::begin(sectionNames), std::end(sectionNames), image.begin() + Shstrtab);
  for (std::uint32_t i = 0; i < Shnum; ++i) ce::putLe32(&image[Shoff + i * ShentBytes], i * 7);
  return image;
}

void prepare() {
  setup.handheld = fs::temp_directory_path() / ("kestrel-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(setup.handheld / "Storage Card");
  std::ofstream(setup.handheld / "handheld.ini") << "platform = Compaq iPAQ H3600\ncards = Storage Card\ncom1 = none\n";
  const fs::path plain = setup.handheld / "kernel";
  const std::vector<std::uint8_t> image = kernelImage();
  std::ofstream(plain, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  setup.compressed = setup.handheld / "Storage Card" / "corvid.gz";
  if (std::system(("gzip -9 -n -c " + quoted(plain) + " > " + quoted(setup.compressed)).c_str()) != 0) {
    std::fprintf(stderr, "bench_gzip_access: gzip -9 failed\n");
    std::exit(1);
  }
  fs::remove(plain);
  std::string error;
  if (!handheld::open(setup.handheld, error)) {
    std::fprintf(stderr, "bench_gzip_access: %s\n", error.c_str());
    std::exit(1);
  }
}

class QuietConsole final : public kestrel::Console {
 public:
  void vprint(const char16_t*, const ce::FormatArg*, std::size_t) override {}
};

struct PatternCost {
  std::uint64_t inflated = 0;  // 0 when a read failed
  std::size_t indexPeakBytes = 0;
};

// One boot's reads of the kernel, with or without access points.
PatternCost bootPattern(bool accessPoints) {
  QuietConsole console;
  kestrel::Console* slot = &console;
  kestrel::GzipFileManager file(&slot, kestrel::makeSource(&slot, kestrel::SourceType::Fat));
  file.setAccessPoints(accessPoints);
  if (!file.setRoot(u"\\Storage Card\\") || !file.open(u"corvid.gz")) return {};
  std::vector<std::uint8_t> buffer(PageBytes);
  bool ok = true;
  auto read = [&](std::uint32_t length, std::uint32_t offset) {
    ok = ok && file.read(buffer.data(), length, offset) == static_cast<std::int32_t>(length);
  };
  read(52, 0);                       // the format check
  read(52, 0);                       // the ELF header proper
  read(Shnum * ShentBytes, Shoff);   // section headers, at the end
  read(52, 52);                      // program headers: back to the start
  read(ShstrtabBytes, Shstrtab);     // section names, at the end again
  for (std::uint32_t at = TextStart; at < ZeroEnd; at += PageBytes) read(PageBytes, at);  // the segments
  for (std::uint32_t at = ZeroEnd; at < StrtabEnd; at += PageBytes) read(PageBytes, at);  // symbols, strings
  file.close();
  if (!ok) return {};
  return {file.bytesInflated(), file.accessIndex().peakBytes()};
}

// The file read once from start to end in pages, as `kestrel cat` reads it: what keeping
// access points costs a reader that never seeks back.
std::uint64_t straightRead(bool accessPoints) {
  QuietConsole console;
  kestrel::Console* slot = &console;
  kestrel::GzipFileManager file(&slot, kestrel::makeSource(&slot, kestrel::SourceType::Fat));
  file.setAccessPoints(accessPoints);
  if (!file.setRoot(u"\\Storage Card\\") || !file.open(u"corvid.gz")) return 0;
  std::vector<std::uint8_t> buffer(PageBytes);
  std::uint64_t total = 0;
  for (std::int32_t n; (n = file.read(buffer.data(), PageBytes, kestrel::FileManager::CurrentPosition)) > 0;) total += n;
  file.close();
  return total == setup.contentBytes ? file.bytesInflated() : 0;
}

double gzipSeconds = 0;     // wall time per run of gzip -dc, the reference for the ratios
double gzipCpuSeconds = 0;  // and its processor time (user + system), which a busy machine disturbs less

// Processor time of this process, and of the finished child processes.
double ownCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double childCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void runShell(benchmark::State& state, const std::string& command) {
  if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
}

void BM_GzipDc(benchmark::State& state) {
  const std::string command = "gzip -dc " + quoted(setup.compressed) + " > /dev/null";
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = childCpuSeconds();
  for (auto _ : state) runShell(state, command);
  gzipSeconds = secondsSince(start) / static_cast<double>(state.iterations());
  gzipCpuSeconds = (childCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
  state.counters["x_gzip_dc"] = 1.0;
  state.counters["cpu_ms"] = gzipCpuSeconds * 1e3;
}

// Argument 0: without access points (every step back restarts at offset 0); 1: with them.
void BM_BootPattern(benchmark::State& state) {
  const bool accessPoints = state.range(0) != 0;
  PatternCost cost;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ownCpuSeconds();
  for (auto _ : state) {
    cost = bootPattern(accessPoints);
    if (cost.inflated == 0) state.SkipWithError("a read of the pattern failed");
  }
  const double seconds = secondsSince(start) / static_cast<double>(state.iterations());
  const double cpu = (ownCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
  if (gzipCpuSeconds > 0) state.counters["cpu_x_gzip_dc"] = cpu / gzipCpuSeconds;
  state.counters["inflated_per_byte"] = static_cast<double>(cost.inflated) / static_cast<double>(setup.contentBytes);
  if (gzipSeconds > 0) state.counters["x_gzip_dc"] = seconds / gzipSeconds;
  state.counters["index_peak_KiB"] = static_cast<double>(cost.indexPeakBytes) / 1024.0;
}

void BM_StraightRead(benchmark::State& state) {
  const bool accessPoints = state.range(0) != 0;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ownCpuSeconds();
  for (auto _ : state) {
    if (straightRead(accessPoints) == 0) state.SkipWithError("the file did not read whole");
  }
  const double seconds = secondsSince(start) / static_cast<double>(state.iterations());
  const double cpu = (ownCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
  if (gzipCpuSeconds > 0) state.counters["cpu_x_gzip_dc"] = cpu / gzipCpuSeconds;
  if (gzipSeconds > 0) state.counters["x_gzip_dc"] = seconds / gzipSeconds;
}

#ifdef KESTREL_PROGRAM
void BM_KestrelCat(benchmark::State& state) {
  const std::string command = "env -u KESTREL_HANDHELD " + quoted(KESTREL_PROGRAM) + " cat --handheld " +
                              quoted(setup.handheld) + " --dir '\\Storage Card\\' corvid.gz > /dev/null 2>&1";
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = childCpuSeconds();
  for (auto _ : state) runShell(state, command);
  const double seconds = secondsSince(start) / static_cast<double>(state.iterations());
  const double cpu = (childCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
  if (gzipSeconds > 0) state.counters["x_gzip_dc"] = seconds / gzipSeconds;
  if (gzipCpuSeconds > 0) state.counters["cpu_x_gzip_dc"] = cpu / gzipCpuSeconds;
}
#endif

}  // namespace

// gzip -dc first: the others are reported as multiples of it.
BENCHMARK(BM_GzipDc)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_BootPattern)->ArgName("access_points")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_StraightRead)->ArgName("access_points")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#ifdef KESTREL_PROGRAM
BENCHMARK(BM_KestrelCat)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#endif

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  prepare();
  std::printf("kernel-like file: %u bytes, gzip -9: %ju bytes\n", FileBytes,
              static_cast<std::uintmax_t>(fs::file_size(setup.compressed)));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  handheld::install(nullptr);
  std::error_code ignored;
  fs::remove_all(setup.handheld, ignored);
  return 0;
}
