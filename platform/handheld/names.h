// Text helpers of the simulated handheld: UTF-8 (handheld.ini, host file names) to and from
// UTF-16 (the device), and the case folding the device's file system compares names with.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace handheld {

// Invalid UTF-8 becomes U+FFFD, so a bad byte can never make a name vanish.
std::u16string utf8ToUtf16(std::string_view text);
// The same for text that must be UTF-8 (command lines): none when it is not.
std::optional<std::u16string> utf8ToUtf16Checked(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// True when `text` has no unpaired surrogate (such a name has no host spelling).
bool wellFormed(std::u16string_view text);

// A host path as UTF-8 text, for messages.
std::string pathText(const std::filesystem::path& path);

// Folds one UTF-16 unit to lower case: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and
// the full-width Latin letters, which is what the device's name comparison covers.
char16_t foldCase(char16_t c);
bool equalNoCase(std::u16string_view a, std::u16string_view b);
// Orders names as the listing does: by folded name, then by exact units.
bool lessNoCase(std::u16string_view a, std::u16string_view b);
// Wildcard match of `name` against `pattern` ('*' any run, '?' one unit), without regard to
// case. "*.*" and a trailing ".*" also match names without a dot, as on the device.
bool wildcardMatch(std::u16string_view pattern, std::u16string_view name);

}  // namespace handheld
