#include "platform/handheld/names.h"

#include <algorithm>

namespace handheld {

namespace {

// Decodes the UTF-8 sequence at text[i]: its code point and length; false (length 1) when the
// bytes there are not a well-formed sequence (overlong forms, surrogates and values past
// U+10FFFF included).
bool decodeUtf8(std::string_view text, std::size_t i, std::uint32_t& cp, std::size_t& len) {
  unsigned char b = static_cast<unsigned char>(text[i]);
  len = 1;
  if (b < 0x80) {
    cp = b;
    return true;
  }
  std::size_t need = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (!need || i + need > text.size()) return false;
  std::uint32_t v = b & (0xFF >> (need + 1));
  for (std::size_t k = 1; k < need; ++k) {
    unsigned char c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return false;
    v = (v << 6) | (c & 0x3F);
  }
  static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < least[need] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
  cp = v;
  len = need;
  return true;
}

void appendUtf16(std::u16string& out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = 0;
    std::size_t len = 1;
    if (!decodeUtf8(text, i, cp, len)) cp = 0xFFFD;
    appendUtf16(out, cp);
    i += len;
  }
  return out;
}

std::optional<std::u16string> utf8ToUtf16Checked(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = 0;
    std::size_t len = 1;
    if (!decodeUtf8(text, i, cp, len)) return std::nullopt;
    appendUtf16(out, cp);
    i += len;
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool wellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string pathText(const std::filesystem::path& path) {
  std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

char16_t foldCase(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs capital and small letter; the pairing flips parity twice.
    if (c == 0x178) return 0xFF;
    if ((c <= 0x137 || (c >= 0x14A && c <= 0x177)) && c % 2 == 0 && c != 0x130) return static_cast<char16_t>(c + 1);
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 1) return static_cast<char16_t>(c + 1);
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 0x20);
  return c;
}

bool equalNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  }
  return true;
}

bool lessNoCase(std::u16string_view a, std::u16string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = foldCase(a[i]), y = foldCase(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

namespace {

bool match(std::u16string_view p, std::u16string_view s) {
  // Iterative glob with one backtrack point: linear in practice, never exponential.
  std::size_t pi = 0, si = 0, star = std::u16string_view::npos, mark = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == u'?' || (p[pi] != u'*' && foldCase(p[pi]) == foldCase(s[si])))) {
      ++pi;
      ++si;
    } else if (pi < p.size() && p[pi] == u'*') {
      star = pi++;
      mark = si;
    } else if (star != std::u16string_view::npos) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

}  // namespace

bool wildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  if (match(pattern, name)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*" &&
      name.find(u'.') == std::u16string_view::npos) {
    return match(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

}  // namespace handheld
