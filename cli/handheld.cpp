// kestrel handheld init: makes a handheld folder (handheld.ini and the storage cards).
#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <system_error>

#include "cli/command.h"
#include "platform/handheld/machine.h"

namespace kestrel::cli {

namespace {

struct InitOptions {
  std::string dir;
  std::string platform = "Compaq iPAQ H3600";
  std::vector<std::string> cards;
  bool force = false;
};

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

const handheld::Profile* findPlatform(const std::string& name) {
  if (const handheld::Profile* exact = handheld::findProfile(name)) return exact;
  for (const handheld::Profile& profile : handheld::profiles()) {
    if (sameIgnoringCase(profile.name, name)) return &profile;
  }
  return nullptr;
}

// A card is a folder in the device's root: one plain name.
bool validCardName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:*?\"<>|") == std::string::npos;
}

int runInit(const InitOptions& options) {
  const handheld::Profile* profile = findPlatform(options.platform);
  if (!profile) {
    return fail(ExitUsage, "unknown platform '" + options.platform +
                               "' (the selectable ones are listed by: kestrel platforms)");
  }
  for (const std::string& card : options.cards) {
    if (!validCardName(card)) return fail(ExitUsage, "bad storage card name '" + card + "'");
  }

  namespace fs = std::filesystem;
  const fs::path dir = options.dir;
  std::error_code ec;
  const fs::path ini = dir / "handheld.ini";
  if (fs::exists(ini, ec) && !options.force) {
    bool empty = fs::is_regular_file(ini, ec) && fs::file_size(ini, ec) == 0 && !ec;
    if (!empty) return fail(ExitFailure, ini.string() + " exists (use --force to replace it)");
  }
  fs::create_directories(dir, ec);
  if (ec) return fail(ExitFailure, "cannot create " + dir.string() + ": " + ec.message());

  handheld::Config config;
  config.profile = *profile;
  if (!options.cards.empty()) config.cards = options.cards;
  std::string error;
  if (!handheld::saveConfig(dir, config, error)) return fail(ExitFailure, "cannot write " + ini.string() + ": " + error);
  for (const std::string& card : config.cards) {
    fs::create_directories(dir / card, ec);
    if (ec) return fail(ExitFailure, "cannot create " + (dir / card).string() + ": " + ec.message());
  }

  std::string cards;
  for (const std::string& card : config.cards) cards += (cards.empty() ? "" : ", ") + card;
  std::cout << "handheld " << dir.string() << ": " << profile->name << "; storage cards: " << cards << "\n";
  return ExitOk;
}

}  // namespace

void addHandheldCommand(CLI::App& root, CommandContext& context) {
  CLI::App* handheldCommand = root.add_subcommand("handheld", "Make and look after simulated handhelds.");
  handheldCommand->require_subcommand(1);

  auto options = std::make_shared<InitOptions>();
  CLI::App* init = handheldCommand->add_subcommand(
      "init",
      "Make a handheld in DIR: write DIR/handheld.ini for the platform and create a folder for each storage "
      "card. An existing non-empty handheld.ini is kept unless --force is given.");
  init->add_option("DIR", options->dir, "the handheld's folder (created when missing)")->required();
  init->add_option("--platform", options->platform, "selectable platform name, as `kestrel platforms` lists it (default: Compaq iPAQ H3600)")
      ->option_text("NAME");
  init->add_option("--card", options->cards, "a storage card folder, in listing order (repeatable; default: Storage Card)")
      ->option_text("NAME")
      ->allow_extra_args(false);
  init->add_flag("--force", options->force, "replace an existing handheld.ini");
  init->callback([&context, options] { context.status = runInit(*options); });
}

}  // namespace kestrel::cli
