#include "cli/command.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>
#include <system_error>

#include "platform/handheld/machine.h"

namespace kestrel::cli {

const CLI::Validator& positiveSeconds() {
  static const CLI::Validator check(
      [](std::string& text) -> std::string {
        double seconds = 0;
        std::size_t used = 0;
        try {
          seconds = std::stod(text, &used);
        } catch (...) {
          used = 0;
        }
        if (used != text.size() || used == 0 || !std::isfinite(seconds) || seconds <= 0) {
          return "expected a number of seconds above 0, not " + text;
        }
        return {};
      },
      "SECONDS");
  return check;
}

int fail(int status, const std::string& message) {
  std::cerr << "kestrel: " << message << "\n";
  return status;
}

std::filesystem::path handheldDirectory(const std::string& option) {
  if (!option.empty()) return option;
  const char* env = std::getenv("KESTREL_HANDHELD");
  if (env && *env) return env;
  return "handheld";
}

void addHandheldOption(CLI::App& command, std::string& target) {
  command.add_option("--handheld", target, "handheld folder (default: $KESTREL_HANDHELD, else ./handheld)")
      ->option_text("DIR");
}

bool openHandheld(const std::filesystem::path& dir) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(dir / "handheld.ini", ec)) {
    fail(ExitFailure, "no handheld at " + dir.string() + " (no handheld.ini; make one with: kestrel handheld init " +
                          dir.string() + ")");
    return false;
  }
  std::string error;
  if (!handheld::open(dir, error)) {
    fail(ExitFailure, "broken handheld at " + dir.string() + ": " + error);
    return false;
  }
  return true;
}

}  // namespace kestrel::cli
