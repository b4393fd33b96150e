// A fresh simulated handheld for a test: a temporary folder with a handheld.ini for the given
// platform and storage cards, installed as the current machine for the fixture's lifetime.
// The folder is removed and the machine uninstalled at the end.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handheld/machine.h"

namespace kestrel_testing {

struct HandheldOptions {
  std::string platform = "Compaq iPAQ H3600";
  std::vector<std::string> cards{"Storage Card"};  // created as folders unless createCards is false
  bool createCards = true;
  std::string extraIni;  // further handheld.ini lines, e.g. "com1 = none\ncoredll = 0\n"
};

class TempHandheld {
 public:
  TempHandheld();
  explicit TempHandheld(HandheldOptions options);
  // Shorthand for the common case: a platform and its cards.
  TempHandheld(std::string platform, std::vector<std::string> cards = {"Storage Card"});
  ~TempHandheld();
  TempHandheld(const TempHandheld&) = delete;
  TempHandheld& operator=(const TempHandheld&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  handheld::Machine& machine() { return handheld::current(); }
  handheld::Faults& faults() { return machine().faults(); }

  // The host file behind a device path, spelled as given: u"\\Storage Card\\corvid.gz" is
  // dir()/"Storage Card"/"corvid.gz".
  std::filesystem::path hostPath(std::u16string_view devicePath) const;
  // Writes a device file (creating the folders on the way) straight on the host, without the
  // device's services.
  void writeFile(std::u16string_view devicePath, std::string_view bytes) const;
  void writeFile(std::u16string_view devicePath, const std::vector<std::uint8_t>& bytes) const;
  // The whole device file; empty when it does not exist.
  std::string readFile(std::u16string_view devicePath) const;
  bool exists(std::u16string_view devicePath) const;

  // Rewrites handheld.ini with `extraIni` added to the options given at construction and
  // installs the machine again (open handles of the old machine are gone).
  void reconfigure(const std::string& extraIni);

 private:
  void writeIni(const std::string& extra) const;
  void installMachine() const;

  HandheldOptions options_;
  std::filesystem::path dir_;
};

}  // namespace kestrel_testing
