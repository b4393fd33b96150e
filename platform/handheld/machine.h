// The simulated handheld behind the platform's service interface: a machine profile, the
// device's file tree (a host folder), storage cards, block devices, COM1, the heap with
// injectable failures, and the processor state. One machine is current at a time; the
// services of platform/*.h act on it. Tests and the front ends choose it.
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace handheld {

enum class Family { SA11x0, PXA2x0 };

struct DramBank {
  std::uint32_t base = 0;
  std::uint32_t size = 0;
};

// A selectable platform's hardware, as the simulation knows it.
struct Profile {
  std::string name;  // the platform table's name, e.g. "Compaq iPAQ H3600"
  std::uint32_t cpu = 0;      // platform table words
  std::uint32_t machine = 0;
  Family family = Family::SA11x0;
  std::string processor;           // "SA-1110", "PXA255", "PXA270", ...
  std::uint32_t cp15Id = 0;        // CP15 register 0
  std::vector<DramBank> dram;      // populated DRAM
  int width = 320, height = 240, bitsPerPixel = 16, dpi = 96;
  int osMajor = 3, osMinor = 0, osBuild = 0;
  unsigned codePage = 1252;
  std::uint16_t processorArchitecture = 5;  // PROCESSOR_ARCHITECTURE_ARM
  std::uint16_t processorLevel = 4;
  std::uint16_t processorRevision = 0;
  std::uint32_t processorType = 2577;       // PROCESSOR_STRONGARM
};

// The 19 selectable platforms, in platform-table order.
const std::vector<Profile>& profiles();
const Profile* findProfile(const std::string& name);

enum class PageOrder { Sequential, Reverse, Shuffle, Hostile };

// A name the handheld's own hosts table resolves, with its IPv4 addresses in order.
struct HostEntry {
  std::string name;
  std::vector<std::array<std::uint8_t, 4>> addresses;
};

// A block device's settings besides its image (diskN_bytes_per_sector, diskN_flags,
// diskN_bad_sector in handheld.ini).
struct DiskOptions {
  std::uint32_t bytesPerSector = 512;
  std::uint32_t flags = 0x1;  // DISK_INFO_FLAG_MBR
  std::optional<std::uint32_t> badSector;
  bool operator==(const DiskOptions&) const = default;
};

// handheld.ini, after the profile's defaults have been applied.
struct Config {
  Profile profile;
  std::vector<std::string> cards{"Storage Card"};  // root folders that are storage cards, in listing order
  std::string disks[9];                             // disk1..disk9: raw images for DSK1: .. DSK9:
  DiskOptions diskOptions[9];
  std::string com1 = "stdout";                      // stdout, file:PATH or none
  bool com1SettingsFail = false;                    // GetCommState/SetCommState on COM1 fail
  PageOrder pageOrder = PageOrder::Shuffle;
  std::uint32_t shuffleSeed = 1;
  int timezoneBias = 0, daylightBias = -60;
  bool daylight = false;
  // coredll.dll and its exports; handheld.ini can remove them (coredll, lock_pages, unlock_pages,
  // get_version_ex = 0).
  bool coredll = true, lockPages = true, unlockPages = true, getVersionEx = true;
  // The network (`network = on|off`): the build machine's loopback. A connect or a receive
  // gives up after `net_timeout` seconds without progress. `hosts = NAME ADDR [ADDR...]; ...`
  // are names the handheld resolves itself, before asking the build machine's resolver.
  bool network = true;
  int netTimeoutSeconds = 30;
  std::vector<HostEntry> hosts;
};

// Reads DIR/handheld.ini. On an error returns false and sets `error` to "FILE:LINE: what".
bool loadConfig(const std::filesystem::path& dir, Config& config, std::string& error);
// Writes a handheld.ini for `config` (used by `kestrel handheld init`).
bool saveConfig(const std::filesystem::path& dir, const Config& config, std::string& error);
// The same two on text: `where` names the source in messages ("WHERE:LINE: what").
bool parseConfig(const std::string& content, const std::string& where, Config& config, std::string& error);
bool configText(const Config& config, const std::string& where, std::string& text, std::string& error);

// Failure injection, counted from the moment it is set. 0 = never.
struct Faults {
  long heapFailAt = 0;          // the n-th LocalAlloc from now fails
  long lockPagesFailAt = 0;     // the k-th LockPages call fails (1-based)
  bool unlockPagesFails = false;
  bool virtualAllocFails = false;
  bool virtualCopyFails = false;
  bool virtualFreeFails = false;
  bool kernelModeFails = false;  // the processor stays in User mode after SetKMode(TRUE)
  // File writes fail past this many bytes from now: a WriteFile call that would go beyond
  // the limit stores the bytes up to it, reports them and returns FALSE (as a full or pulled
  // card would), and every later WriteFile fails writing nothing. 0 = never.
  long writeFailAfter = 0;
  bool uartNeverReady = false;  // the UART's transmitter stays busy and loses what it is given
};

class Machine {
 public:
  Machine(std::filesystem::path root, Config config);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::filesystem::path& root() const { return root_; }
  const Config& config() const { return config_; }
  Config& config() { return config_; }
  Faults& faults() { return faults_; }

  // Where OutputDebugStringW goes (the default drops it).
  void setDebugSink(std::function<void(const std::u16string&)> sink) { debugSink_ = std::move(sink); }
  void debugOutput(const std::u16string& text) {
    if (debugSink_) debugSink_(text);
  }

  // Implementation state of the services (files, memory, processor, serial); defined by the
  // files of platform/handheld that provide them.
  struct State;
  State& state() { return *state_; }

 private:
  std::filesystem::path root_;
  Config config_;
  Faults faults_;
  std::function<void(const std::u16string&)> debugSink_;
  std::unique_ptr<State> state_;
};

// The current machine. `install` replaces it (and destroys the old one); `current` aborts
// with a message when none is installed.
void install(std::unique_ptr<Machine> machine);
Machine& current();
bool installed();

// Opens the handheld folder DIR (reading its handheld.ini) and installs it.
bool open(const std::filesystem::path& dir, std::string& error);

}  // namespace handheld
