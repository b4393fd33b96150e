#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/kernel/probe_image.h"
#include "tests/kernel/probe_paths.h"

namespace fs = std::filesystem;

namespace kestrel::e2e {
namespace {

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

CommandResult shell(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

fs::path freshFolder() {
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    std::ostringstream name;
    name << "kestrel-e2e-" << std::hex << random();
    fs::path dir = fs::temp_directory_path() / name.str();
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir;
  }
}

bool writeBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The page order line of handheld.ini replaced (`kestrel handheld init` writes one).
bool setPageOrder(const fs::path& ini, const std::string& order) {
  std::ifstream in(ini);
  std::string line, text;
  bool found = false;
  while (std::getline(in, line)) {
    if (line.rfind("page_order", 0) == 0) {
      line = "page_order = " + order;
      found = true;
    }
    text += line + "\n";
  }
  if (!found) text += "page_order = " + order + "\n";
  std::ofstream out(ini, std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

CommandResult kestrel(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  std::string command;
  for (const std::string& e : environment) command += e + " ";
  command += quote(KESTREL_COMMAND);
  for (const std::string& a : arguments) command += " " + quote(a);
  return shell(command);
}

const char* probeKernelFor(const std::string& platform) {
  // Every SA-11x0 platform of the table is an iPAQ H31xx/H36xx or a Jornada 7xx/8xx.
  bool sa = platform.find("H31") != std::string::npos || platform.find("H36") != std::string::npos ||
            platform.find("Jornada") != std::string::npos;
  return sa ? testing::probeKernelSa11x0 : testing::probeKernelPxa2x0;
}

std::string probeReport(const std::string& output) {
  std::istringstream in(output);
  std::string line, report;
  while (std::getline(in, line)) {
    if (line.rfind("probe: ", 0) == 0 || line.rfind("kestrel: ", 0) == 0 || line.rfind("[BOOT FAILED]", 0) == 0) {
      report += line + "\n";
    }
  }
  return report;
}

Handheld::Handheld(const HandheldSetup& setup) : dir_(freshFolder()) {
  CommandResult init = kestrel({"handheld", "init", dir_.string(), "--platform", setup.platform, "--force"});
  if (init.status != 0) {
    ADD_FAILURE() << "kestrel handheld init: " << init.output;
    return;
  }
  if (!setPageOrder(dir_ / "handheld.ini", setup.pageOrder)) {
    ADD_FAILURE() << "can't write handheld.ini";
    return;
  }
  const fs::path card = dir_ / "Storage Card";
  const char* probe = probeKernelFor(setup.platform);
  std::string kernelName = setup.kernel == Kernel::Gzip ? "corvid.gz" : "corvid";
  fs::copy_file(probe, card / "corvid", fs::copy_options::overwrite_existing);
  if (setup.kernel == Kernel::Gzip) {
    CommandResult gz = shell("gzip -n -9 " + quote((card / "corvid").string()));
    if (gz.status != 0) {
      ADD_FAILURE() << "gzip: " << gz.output;
      return;
    }
  }
  std::vector<std::string> config{"config", "set", "--handheld", dir_.string(), "kernelDirectory=\\Storage Card\\",
                                  "kernelFile=" + kernelName, "platform=" + setup.platform};
  if (setup.image) {
    // 64 KiB and a page of pattern: the image ends inside a page.
    if (!writeBytes(card / "miniroot.fs", testing::makeProbeImage(0x11000 + 0x40, 0x5EED))) {
      ADD_FAILURE() << "can't write the image";
      return;
    }
    std::string imageName = "miniroot.fs";
    if (setup.gzipImage) {
      CommandResult gz = shell("gzip -n -9 " + quote((card / "miniroot.fs").string()));
      if (gz.status != 0) {
        ADD_FAILURE() << "gzip: " << gz.output;
        return;
      }
      imageName = "miniroot.fs.gz";
    }
    config.push_back("rootDevice=md");
    config.push_back("fsImagePath=" + imageName);
  }
  CommandResult set = kestrel(config);
  if (set.status != 0) {
    ADD_FAILURE() << "kestrel config set: " << set.output;
    return;
  }
  ready_ = true;
}

Handheld::~Handheld() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

CommandResult Handheld::boot(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) const {
  std::vector<std::string> all{"boot", "--handheld", dir_.string()};
  if (std::find(arguments.begin(), arguments.end(), "--no") == arguments.end()) all.push_back("--yes");
  all.insert(all.end(), arguments.begin(), arguments.end());
  return kestrel(all, environment);
}

}  // namespace kestrel::e2e
