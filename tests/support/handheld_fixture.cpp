#include "tests/support/handheld_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace kestrel_testing {
namespace {

fs::path freshFolder() {
  static std::mt19937_64 random{std::random_device{}()};
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "kestrel-handheld-" << std::hex << random();
    fs::path dir = base / name.str();
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir;
  }
  ADD_FAILURE() << "can't create a temporary handheld folder in " << base;
  return base / "kestrel-handheld-unavailable";
}

}  // namespace

TempHandheld::TempHandheld() : TempHandheld(HandheldOptions{}) {}

TempHandheld::TempHandheld(std::string platform, std::vector<std::string> cards)
    : TempHandheld(HandheldOptions{std::move(platform), std::move(cards), true, ""}) {}

TempHandheld::TempHandheld(HandheldOptions options) : options_(std::move(options)), dir_(freshFolder()) {
  if (options_.createCards) {
    for (const auto& card : options_.cards) {
      std::u8string name(card.begin(), card.end());
      fs::create_directories(dir_ / fs::path(name));
    }
  }
  writeIni("");
  installMachine();
}

TempHandheld::~TempHandheld() {
  handheld::install(nullptr);
  std::error_code ec;
  // Files made read-only by a test must not keep the folder alive.
  for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(dir_, ec);
}

void TempHandheld::writeIni(const std::string& extra) const {
  std::ofstream ini(dir_ / "handheld.ini", std::ios::binary | std::ios::trunc);
  ini << "platform = " << options_.platform << "\n";
  ini << "cards = ";
  for (std::size_t k = 0; k < options_.cards.size(); ++k) ini << (k ? ", " : "") << options_.cards[k];
  ini << "\n";
  if (!options_.extraIni.empty()) ini << options_.extraIni << "\n";
  if (!extra.empty()) ini << extra << "\n";
}

void TempHandheld::installMachine() const {
  std::string error;
  if (!handheld::open(dir_, error)) ADD_FAILURE() << "handheld::open: " << error;
}

void TempHandheld::reconfigure(const std::string& extraIni) {
  handheld::install(nullptr);
  writeIni(extraIni);
  installMachine();
}

fs::path TempHandheld::hostPath(std::u16string_view devicePath) const {
  fs::path p = dir_;
  std::size_t i = 0;
  while (i <= devicePath.size()) {
    std::size_t j = devicePath.find_first_of(u"\\/", i);
    if (j == std::u16string_view::npos) j = devicePath.size();
    if (j > i) p /= fs::path(std::u16string(devicePath.substr(i, j - i)));
    i = j + 1;
  }
  return p;
}

void TempHandheld::writeFile(std::u16string_view devicePath, std::string_view bytes) const {
  fs::path p = hostPath(devicePath);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "can't write " << p;
}

void TempHandheld::writeFile(std::u16string_view devicePath, const std::vector<std::uint8_t>& bytes) const {
  writeFile(devicePath, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string TempHandheld::readFile(std::u16string_view devicePath) const {
  std::ifstream in(hostPath(devicePath), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempHandheld::exists(std::u16string_view devicePath) const {
  std::error_code ec;
  return fs::exists(hostPath(devicePath), ec);
}

}  // namespace kestrel_testing
