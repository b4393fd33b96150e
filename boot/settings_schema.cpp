#include "boot/settings_schema.h"

#include "boot/settings.h"

namespace kestrel {

namespace {

using Offset = SettingsRecord::Offset;
using Record = SettingsRecord;

constexpr std::int64_t MaxWord = 0xFFFFFFFFll;

// A 32-bit word of the record, by member.
#define KESTREL_WORD(member)                                                         \
  [](const Record& r) { return static_cast<std::uint32_t>(r.member); },              \
      [](Record& r, std::uint32_t v) { r.member = static_cast<decltype(r.member)>(v); }, nullptr
#define KESTREL_TEXT(member) nullptr, nullptr, [](Record& r) { return &r.member[0]; }

constexpr SettingsField fields[] = {
    {"magic", Offset::magic, FieldKind::Number, 0, 0, MaxWord, false, true, nullptr, KESTREL_WORD(magic)},
    {"version", Offset::version, FieldKind::Number, 0, 0, MaxWord, false, true, nullptr, KESTREL_WORD(version)},
    {"recordSize", Offset::recordSize, FieldKind::Number, 0, 0, MaxWord, false, true, nullptr, KESTREL_WORD(recordSize)},
    {"reserved", Offset::reserved, FieldKind::Number, 0, 0, MaxWord, false, false, nullptr, KESTREL_WORD(reserved)},
    {"kernelDirectorySet", Offset::kernelDirectorySet, FieldKind::Flag, 0, 0, 1, true, true, nullptr,
     KESTREL_WORD(kernelDirectorySet)},
    {"kernelDirectory", Offset::kernelDirectory, FieldKind::Text, Record::PathUnits, 0, 0, true, true,
     "kernelDirectorySet", KESTREL_TEXT(kernelDirectory)},
    {"kernelFileSet", Offset::kernelFileSet, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(kernelFileSet)},
    {"kernelFile", Offset::kernelFile, FieldKind::Text, Record::PathUnits, 0, 0, true, true, "kernelFileSet",
     KESTREL_TEXT(kernelFile)},
    {"platform.cpu", Offset::platformCpu, FieldKind::Hex, 0, 0, MaxWord, true, true, nullptr, KESTREL_WORD(platform.cpu)},
    {"platform.machine", Offset::platformMachine, FieldKind::Hex, 0, 0, MaxWord, true, true, nullptr,
     KESTREL_WORD(platform.machine)},
    {"rootDevice", Offset::rootDevice, FieldKind::Root, 0, 0, RootDeviceCount - 1, true, true, nullptr,
     KESTREL_WORD(rootDevice)},
    {"fsImagePath", Offset::fsImagePath, FieldKind::Text, Record::PathUnits, 0, 0, true, true, nullptr,
     KESTREL_TEXT(fsImagePath)},
    {"serialConsole", Offset::serialConsole, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(serialConsole)},
    {"bootVerbose", Offset::bootVerbose, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(bootVerbose)},
    {"singleUser", Offset::singleUser, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(singleUser)},
    {"askName", Offset::askName, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(askName)},
    {"kernelDebugger", Offset::kernelDebugger, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(kernelDebugger)},
    {"autoBootSeconds", Offset::autoBootSeconds, FieldKind::Seconds, 0, 0, MaxAutoBootSeconds, true, true, nullptr,
     KESTREL_WORD(autoBootSeconds)},
    {"reverseVideo", Offset::reverseVideo, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(reverseVideo)},
    {"pauseBeforeBoot", Offset::pauseBeforeBoot, FieldKind::Flag, 0, 0, 1, true, true, nullptr,
     KESTREL_WORD(pauseBeforeBoot)},
    {"loadDebugInfo", Offset::loadDebugInfo, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(loadDebugInfo)},
    {"safetyMessage", Offset::safetyMessage, FieldKind::Flag, 0, 0, 1, true, true, nullptr, KESTREL_WORD(safetyMessage)},
    // 0 bit/s would leave the serial line unset, and divide the UART's clock by nothing.
    {"serialSpeed", Offset::serialSpeed, FieldKind::Number, 0, 1, MaxWord, true, true, nullptr, KESTREL_WORD(serialSpeed)},
    {"extraOptions", Offset::extraOptions, FieldKind::Text, Record::OptionUnits, 0, 0, true, true, nullptr,
     KESTREL_TEXT(extraOptions)},
};

#undef KESTREL_WORD
#undef KESTREL_TEXT

constexpr const char* rootNames[RootDeviceCount] = {"wd", "sd", "md", "nfs", "dk", "ld"};

// The table covers the record: every field starts where the one before it ends, and the
// last ends at the record's end.
constexpr bool coversRecord() {
  std::size_t at = 0;
  for (const SettingsField& f : fields) {
    if (f.offset != at) return false;
    at += f.kind == FieldKind::Text ? 2 * f.units : 4;
  }
  return at == Record::Size;
}
static_assert(coversRecord(), "the settings table must describe every byte of the record, in order");

}  // namespace

const char* rootDeviceName(std::int32_t number) {
  return number >= 0 && number < RootDeviceCount ? rootNames[number] : nullptr;
}

std::optional<RootDevice> rootDeviceNamed(std::string_view name) {
  for (int k = 0; k < RootDeviceCount; ++k) {
    if (name == rootNames[k]) return static_cast<RootDevice>(k);
  }
  return std::nullopt;
}

std::span<const SettingsField> settingsFields() { return fields; }

std::int64_t fieldValue(const SettingsField& field, std::uint32_t word) {
  if (field.kind == FieldKind::Root || field.kind == FieldKind::Seconds) return static_cast<std::int32_t>(word);
  return word;
}

bool storedValueRefused(const SettingsField& field, std::uint32_t word) {
  if (!field.settable || field.kind == FieldKind::Text || field.kind == FieldKind::Flag) return false;
  const std::int64_t value = fieldValue(field, word);
  return value < field.minimum || value > field.maximum;
}

const SettingsField* findSettingsField(std::string_view name) {
  for (const SettingsField& f : fields) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

}  // namespace kestrel
