// kestrel.cnf is whatever is on the card: any file must load without reading past what it
// holds, leave a record with the right magic, version 258 and recordSize 2152 and every
// ranged field inside its range, and be replaced by exactly that record at the next save. The file goes through the handheld's
// own file services, as at start-up.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "boot/settings.h"
#include "boot/settings_schema.h"
#include "platform/handheld/machine.h"

namespace {

// One handheld for the whole run, removed at exit.
struct Handheld {
  Handheld() {
    std::random_device random;
    root = std::filesystem::temp_directory_path() / ("kestrel-fuzz-settings-" + std::to_string(random()));
    std::filesystem::create_directories(root / "Storage Card");
    handheld::Config config;
    if (const handheld::Profile* profile = handheld::findProfile("Compaq iPAQ H3600")) config.profile = *profile;
    handheld::install(std::make_unique<handheld::Machine>(root, config));
  }
  ~Handheld() {
    handheld::install(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::filesystem::path root;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Handheld handheld;
  const std::filesystem::path file = handheld.root / "Storage Card" / "kestrel.cnf";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  kestrel::Settings settings;
  if (settings.magic != kestrel::SettingsRecord::MagicValue || settings.version != 258 ||
      settings.recordSize != 2152)
    std::abort();
  for (const kestrel::SettingsField& f : kestrel::settingsFields()) {
    if (f.kind != kestrel::FieldKind::Text && kestrel::storedValueRefused(f, f.get(settings))) std::abort();
  }
  std::uint8_t record[kestrel::SettingsRecord::Size];
  settings.serialize(record);
  if (!settings.saveFile()) std::abort();
  std::ifstream in(file, std::ios::binary);
  std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (saved != std::string(reinterpret_cast<const char*>(record), sizeof record)) std::abort();
  return 0;
}
