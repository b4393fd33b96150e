#include "cli/command.h"

#include <cstdlib>
#include <iostream>
#include <system_error>

#include "platform/handheld/machine.h"

namespace kestrel::cli {

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

std::optional<std::u16string> utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    char32_t code;
    std::size_t extra;
    char32_t minimum;
    if (lead < 0x80) {
      code = lead, extra = 0, minimum = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F, extra = 1, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F, extra = 2, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07, extra = 3, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + extra >= text.size()) return std::nullopt;  // sequence cut off at the end
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return std::nullopt;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += extra + 1;
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

}  // namespace kestrel::cli
