// What the subcommands of `kestrel` share: registration, exit codes, error lines, the
// handheld folder, and UTF-8 <-> UTF-16 for texts that cross the command line.
#pragma once
#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handheld/names.h"

namespace kestrel {
struct SettingsRecord;
}

namespace kestrel::cli {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;  // the command could not do its work (missing handheld, I/O)
constexpr int ExitUsage = 64;   // the command line itself is wrong

// A subcommand's callback stores its exit code here; main returns it.
struct CommandContext {
  int status = ExitOk;
};

// Each subcommand file defines one of these; main.cpp lists them.
using AddCommand = void (*)(CLI::App& root, CommandContext& context);

// --timeout's check: a finite number of seconds above 0 (not nan, not inf, not negative).
const CLI::Validator& positiveSeconds();

// Prints "kestrel: <message>" on stderr and returns `status`.
int fail(int status, const std::string& message);

// --handheld DIR, else $KESTREL_HANDHELD, else ./handheld.
std::filesystem::path handheldDirectory(const std::string& option);
// Adds the --handheld option to a subcommand.
void addHandheldOption(CLI::App& command, std::string& target);
// Opens the handheld folder and installs it as the current machine. On failure prints the
// reason and returns false.
bool openHandheld(const std::filesystem::path& dir);

// The handheld's own conversions: command-line text must be UTF-8 (none when it is not);
// UTF-16 becomes UTF-8 with an unpaired surrogate as U+FFFD.
inline std::optional<std::u16string> utf8ToUtf16(std::string_view text) { return handheld::utf8ToUtf16Checked(text); }
using handheld::utf16ToUtf8;

// FIELD=VALUE as `kestrel config set` takes it (any settable field, or platform=NAME), applied
// to `record`. On a bad assignment returns false, sets `error` and leaves the record alone.
bool assignSettingsField(SettingsRecord& record, const std::string& item, std::string& error);

}  // namespace kestrel::cli
