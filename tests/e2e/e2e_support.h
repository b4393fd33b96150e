// End-to-end tests drive the `kestrel` command as a user does: a handheld made with
// `kestrel handheld init`, the probe kernel (and a probe image) put on its storage card,
// kestrel.cnf written with `kestrel config set`, then `kestrel boot`.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::e2e {

struct CommandResult {
  int status = -1;     // exit status; -1 when the command did not exit normally
  std::string output;  // stdout and stderr together
};

// Runs the kestrel command with `arguments`; `environment` is prepended as NAME=VALUE pairs.
CommandResult kestrel(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});

enum class Kernel { Plain, Gzip };

struct HandheldSetup {
  std::string platform = "Compaq iPAQ H3600";
  std::string pageOrder = "sequential";  // sequential, reverse, hostile or shuffle:SEED
  Kernel kernel = Kernel::Gzip;
  bool image = false;  // root device md with a probe image as miniroot.fs
  bool gzipImage = false;
};

// A handheld in a fresh temporary folder, removed again at the end.
class Handheld {
 public:
  explicit Handheld(const HandheldSetup& setup);
  ~Handheld();
  Handheld(const Handheld&) = delete;
  Handheld& operator=(const Handheld&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // `kestrel boot --handheld DIR` with the further arguments, and --yes unless they say --no.
  CommandResult boot(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) const;
  // Set up without a failure (each step reports its own failure to the test).
  bool ready() const { return ready_; }

 private:
  std::filesystem::path dir_;
  bool ready_ = false;
};

// The SA-11x0 probe for an SA-11x0 platform, the PXA-2x0 one otherwise.
const char* probeKernelFor(const std::string& platform);

// Lines of `output` that start with "probe: ", for a failure message.
std::string probeReport(const std::string& output);

}  // namespace kestrel::e2e
