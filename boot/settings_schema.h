// Every field of kestrel.cnf in one table: its name, its kind, its byte offset in the record,
// the values it may take, and where it lives in SettingsRecord. The record is serialized from
// this table; `kestrel config`, `kestrel boot --set`, the boot object and the Main and Option
// pages all read their knowledge of the fields from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrel {

struct SettingsRecord;

// The root device the kernel is to mount, by its stored number.
enum class RootDevice : std::int32_t { Wd = 0, Sd = 1, Md = 2, Nfs = 3, Dk = 4, Ld = 5 };
constexpr int RootDeviceCount = 6;

// "wd", "sd", "md", "nfs", "dk", "ld"; null for a number outside 0..5.
const char* rootDeviceName(std::int32_t number);
// The device of a name above; none for any other text.
std::optional<RootDevice> rootDeviceNamed(std::string_view name);

enum class FieldKind {
  Number,   // unsigned 32-bit, shown in decimal
  Hex,      // unsigned 32-bit, shown as 0x%08x
  Flag,     // 0 or 1
  Root,     // a RootDevice number
  Seconds,  // the auto-boot delay, signed
  Text,     // UTF-16 array of `units` units, terminated inside the array
};

struct SettingsField {
  const char* name;
  std::size_t offset;  // in the 2152-byte record
  FieldKind kind;
  std::size_t units;   // Text: the array's units
  // The values a user may give it (numeric kinds). A loaded record keeps what it stores,
  // except that a number, root device or delay outside these takes its default.
  std::int64_t minimum;
  std::int64_t maximum;
  bool settable;        // false: written as the program writes every record
  bool shown;           // false: read by nothing (the reserved word)
  const char* setFlag;  // the *Set flag that assigning this text also sets, or null
  // Where the value lives: a 32-bit word (the signed fields as their two's complement) ...
  std::uint32_t (*get)(const SettingsRecord& record);
  void (*set)(SettingsRecord& record, std::uint32_t value);
  // ... or, for Text, the array.
  char16_t* (*text)(SettingsRecord& record);
};

// The auto-boot timer runs for seconds x 1000 ms in 32 signed bits.
constexpr std::int64_t MaxAutoBootSeconds = 0x7FFFFFFF / 1000;

// The stored word as the field's value: sign-extended for the signed kinds.
std::int64_t fieldValue(const SettingsField& field, std::uint32_t word);
// Whether a loaded record's word must give way to the field's default: a number, root device
// or delay outside [minimum, maximum]. Flags are taken as stored (any nonzero word is set), and
// so are the words the program writes itself (magic, version, recordSize, reserved).
bool storedValueRefused(const SettingsField& field, std::uint32_t word);

// Every field, in record order.
std::span<const SettingsField> settingsFields();
// The field called `name`, or null.
const SettingsField* findSettingsField(std::string_view name);

}  // namespace kestrel
