// kestrel config show|set: the settings record in kestrel.cnf on the handheld's first card,
// loaded and saved exactly as the boot loader does at start-up and at a boot start.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "boot/platform_table.h"
#include "boot/settings.h"
#include "boot/settings_schema.h"
#include "boot/temporary_directory.h"
#include "cli/command.h"
#include "platform/bytes.h"

namespace kestrel::cli {

namespace {

using Record = SettingsRecord;
using Offset = SettingsRecord::Offset;

using Kind = FieldKind;
using Field = SettingsField;

std::string showValue(const Field& f, const std::uint8_t* bytes) {
  const std::uint8_t* at = bytes + f.offset;
  char text[32];
  switch (f.kind) {
    case Kind::Hex:
      std::snprintf(text, sizeof text, "0x%08x", ce::getLe32(at));
      return text;
    case Kind::Root:
    case Kind::Seconds:
      return std::to_string(static_cast<std::int32_t>(ce::getLe32(at)));
    case Kind::Number:
    case Kind::Flag:
      return std::to_string(ce::getLe32(at));
    case Kind::Text: {
      std::u16string units;
      for (std::size_t k = 0; k < f.units; ++k) {
        char16_t unit = ce::getLe16(at + 2 * k);
        if (!unit) break;
        units.push_back(unit);
      }
      return utf16ToUtf8(units);
    }
  }
  return {};
}

bool parseInteger(std::string_view text, std::int64_t& value) {
  int base = 10;
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size() || magnitude > 0xFFFFFFFFull) return false;
  value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

struct Assignment {
  const Field* field = nullptr;
  std::uint32_t word = 0;   // non-text fields
  std::u16string text;      // text fields
  std::optional<PlatformId> platform;  // platform=NAME
};

// Parses FIELD=VALUE. On a bad assignment returns none and sets `error`.
std::optional<Assignment> parseAssignment(const std::string& item, std::string& error) {
  std::size_t eq = item.find('=');
  if (eq == std::string::npos) {
    error = "'" + item + "' is not FIELD=VALUE";
    return std::nullopt;
  }
  std::string name = item.substr(0, eq);
  std::string value = item.substr(eq + 1);
  Assignment a;
  if (name == "platform") {
    // A selectable platform by name sets both words, as the Main tab's list does.
    for (int i = 0; platformName(i); ++i) {
      if (utf16ToUtf8(platformName(i)) == value) {
        PlatformId id;
        selectPlatform(i, id);
        a.platform = id;
        return a;
      }
    }
    error = "unknown platform '" + value + "' (kestrel platforms lists them)";
    return std::nullopt;
  }
  a.field = findSettingsField(name);
  if (!a.field || !a.field->shown) {
    error = "unknown field '" + name + "' (kestrel config show lists the fields)";
    return std::nullopt;
  }
  if (!a.field->settable) {
    error = "'" + name + "' is not settable: it is written as the program writes every record";
    return std::nullopt;
  }
  auto bad = [&](const std::string& why) {
    error = "bad value '" + value + "' for " + name + ": " + why;
    return std::nullopt;
  };
  std::int64_t n = 0;
  switch (a.field->kind) {
    case Kind::Flag:
      if (value == "1" || value == "true" || value == "yes" || value == "on") a.word = 1;
      else if (value == "0" || value == "false" || value == "no" || value == "off") a.word = 0;
      else return bad("expected 0 or 1");
      return a;
    case Kind::Root:
      if (std::optional<RootDevice> named = rootDeviceNamed(value)) {
        a.word = static_cast<std::uint32_t>(*named);
        return a;
      }
      for (std::int64_t k = a.field->minimum; k <= a.field->maximum; ++k) {
        if (value == std::to_string(k)) {
          a.word = static_cast<std::uint32_t>(k);
          return a;
        }
      }
      return bad("expected wd, sd, md, nfs, dk, ld or 0 to 5");
    case Kind::Seconds:
      if (!parseInteger(value, n) || n < a.field->minimum || n > a.field->maximum) {
        return bad("expected seconds from 0 (no auto boot) to " + std::to_string(a.field->maximum));
      }
      a.word = static_cast<std::uint32_t>(n);
      return a;
    case Kind::Number:
    case Kind::Hex:
      if (!parseInteger(value, n) || n < a.field->minimum || n > a.field->maximum) {
        return bad(a.field->minimum == 0 ? std::string("expected an unsigned 32-bit number")
                                         : "expected a number from " + std::to_string(a.field->minimum) + " to " +
                                               std::to_string(a.field->maximum));
      }
      a.word = static_cast<std::uint32_t>(n);
      return a;
    case Kind::Text: {
      std::optional<std::u16string> wide = utf8ToUtf16(value);
      if (!wide) return bad("not UTF-8");
      if (wide->size() > a.field->units - 1) {
        return bad("longer than " + std::to_string(a.field->units - 1) + " UTF-16 units");
      }
      if (wide->find(u'\0') != std::u16string::npos) return bad("contains a NUL");
      a.text = std::move(*wide);
      return a;
    }
  }
  return bad("unsupported");
}

void apply(const Assignment& a, std::uint8_t* bytes) {
  if (a.platform) {
    ce::putLe32(bytes + Offset::platformCpu, a.platform->cpu);
    ce::putLe32(bytes + Offset::platformMachine, a.platform->machine);
    return;
  }
  std::uint8_t* at = bytes + a.field->offset;
  if (a.field->kind != Kind::Text) {
    ce::putLe32(at, a.word);
    return;
  }
  // The new text and its terminator; the units after it stay as the array held them.
  for (std::size_t k = 0; k < a.text.size(); ++k) ce::putLe16(at + 2 * k, a.text[k]);
  ce::putLe16(at + 2 * a.text.size(), 0);
  if (a.field->setFlag) ce::putLe32(bytes + findSettingsField(a.field->setFlag)->offset, 1);
}

std::string cardPath(const char* file) {
  char16_t directory[TemporaryDirectoryUnits];
  if (!findTemporaryDirectory(directory)) return {};
  return "\\" + utf16ToUtf8(directory) + "\\" + file;
}

struct ConfigOptions {
  std::string handheld;
  std::vector<std::string> assignments;
};

int runShow(const ConfigOptions& options) {
  if (!openHandheld(handheldDirectory(options.handheld))) return ExitFailure;
  std::uint8_t bytes[Record::Size];
  settings().serialize(bytes);  // loaded exactly as at start-up
  releaseSettings();
  for (const Field& f : settingsFields()) {
    if (f.shown) std::printf("%s=%s\n", f.name, showValue(f, bytes).c_str());
  }
  return ExitOk;
}

int runSet(const ConfigOptions& options) {
  std::vector<Assignment> changes;
  for (const std::string& item : options.assignments) {
    std::string error;
    std::optional<Assignment> a = parseAssignment(item, error);
    if (!a) return fail(ExitUsage, error);
    changes.push_back(std::move(*a));
  }
  if (!openHandheld(handheldDirectory(options.handheld))) return ExitFailure;
  std::string path = cardPath("kestrel.cnf");
  if (path.empty()) return fail(ExitFailure, "the handheld has no storage card to keep kestrel.cnf on");

  Settings& s = settings();
  std::uint8_t bytes[Record::Size];
  s.serialize(bytes);
  for (const Assignment& a : changes) apply(a, bytes);
  s.deserialize(bytes);
  bool saved = s.saveFile();
  releaseSettings();
  if (!saved) return fail(ExitFailure, "could not write " + path);
  std::printf("wrote %s\n", path.c_str());
  return ExitOk;
}

}  // namespace

bool assignSettingsField(SettingsRecord& record, const std::string& item, std::string& error) {
  std::optional<Assignment> a = parseAssignment(item, error);
  if (!a) return false;
  std::uint8_t bytes[Record::Size];
  record.serialize(bytes);
  apply(*a, bytes);
  record.deserialize(bytes);
  return true;
}

void addConfigCommand(CLI::App& root, CommandContext& context) {
  CLI::App* config = root.add_subcommand("config", "Show or change the settings kept in kestrel.cnf on the first storage card.");
  config->require_subcommand(1);

  auto showOptions = std::make_shared<ConfigOptions>();
  CLI::App* show = config->add_subcommand(
      "show",
      "Load the settings as the boot loader does at start-up (kestrel.cnf, or the defaults) and print one "
      "field=value line per record field, in record order.");
  addHandheldOption(*show, showOptions->handheld);
  show->callback([&context, showOptions] { context.status = runShow(*showOptions); });

  auto setOptions = std::make_shared<ConfigOptions>();
  CLI::App* set = config->add_subcommand(
      "set",
      "Change settings and save kestrel.cnf as a boot start does. Texts are UTF-8; setting kernelDirectory or "
      "kernelFile also sets its *Set flag; flags take 0 or 1, rootDevice wd/sd/md/nfs/dk/ld, platform.cpu and "
      "platform.machine hex (0x...) or decimal, platform=NAME a selectable platform. magic, version and "
      "recordSize are not settable.");
  addHandheldOption(*set, setOptions->handheld);
  set->add_option("FIELD=VALUE", setOptions->assignments, "the changes, applied in order")->required();
  set->callback([&context, setOptions] { context.status = runSet(*setOptions); });
}

}  // namespace kestrel::cli
