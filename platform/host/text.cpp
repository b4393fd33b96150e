// Wide <-> 8-bit conversion of the host build, with iconv, in the platform's conventions:
// srcLength -1 takes the terminator along, dstSize 0 asks for the size, a full buffer is
// ErrorInsufficientBuffer, and a character the code page has no byte for becomes the default
// character ('?') with usedDefault set.
#include "platform/text.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/handheld/machine.h"

namespace ce {
namespace {

constexpr UINT Utf8 = CpUtf8;

const char* wideCode() { return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE"; }

// The code pages other than the default one that name "the system's code page".
UINT effective(UINT codePage) { return codePage <= 3 ? GetACP() : codePage; }

// iconv descriptors by code page and direction, opened once and closed at exit.
struct Descriptors {
  std::map<std::pair<UINT, bool>, iconv_t> byPage;
  ~Descriptors() {
    for (auto& [key, cd] : byPage) iconv_close(cd);
  }
};

iconv_t descriptor(UINT codePage, bool toBytes) {
  static Descriptors descriptors;
  auto& open = descriptors.byPage;
  auto key = std::make_pair(codePage, toBytes);
  auto it = open.find(key);
  if (it != open.end()) return it->second;
  std::string name = codePage == Utf8 ? "UTF-8" : "CP" + std::to_string(codePage);
  iconv_t cd = toBytes ? iconv_open(name.c_str(), wideCode()) : iconv_open(wideCode(), name.c_str());
  if (cd != reinterpret_cast<iconv_t>(-1)) open.emplace(key, cd);
  return cd;
}

bool usable(iconv_t cd) { return cd != reinterpret_cast<iconv_t>(-1); }

// Code page 1252 gives the five bytes it leaves undefined the C1 control of the same value;
// iconv refuses them, so they are mapped here.
bool c1Hole(UINT codePage, unsigned value) {
  return codePage == 1252 && (value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D);
}

bool leadByte932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

int invalid() {
  SetLastError(ErrorInvalidParameter);
  return 0;
}

}  // namespace

UINT GetACP() { return handheld::installed() ? handheld::current().config().profile.codePage : 1252; }

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* src, int srcLength, char* dst, int dstSize,
                        const char* defaultChar, BOOL* usedDefault) {
  if (usedDefault) *usedDefault = False;
  if (!src || srcLength == 0 || srcLength < -1 || dstSize < 0 || (dstSize > 0 && !dst)) return invalid();
  UINT cp = effective(codePage);
  // UTF-8 represents everything; the platform refuses a default character for it.
  if (cp == Utf8 && (defaultChar || usedDefault)) return invalid();
  iconv_t cd = descriptor(cp, true);
  if (!usable(cd)) return invalid();
  std::size_t units = srcLength == -1 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<std::size_t>(srcLength);

  std::string fallback = "?";
  if (cp == Utf8) {
    fallback = "\xEF\xBF\xBD";
  } else if (defaultChar && defaultChar[0]) {
    bool pair = cp == 932 && leadByte932(static_cast<unsigned char>(defaultChar[0])) && defaultChar[1];
    fallback.assign(defaultChar, pair ? 2 : 1);
  }

  std::string out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(src));
  std::size_t inLeft = units * sizeof(char16_t);
  while (inLeft > 0) {
    char buf[256];
    char* o = buf;
    std::size_t oLeft = sizeof buf;
    std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<std::size_t>(o - buf));
    if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // The unit at `in` has no byte in this code page, or is a surrogate without its pair.
    char16_t unit;
    std::memcpy(&unit, in, sizeof unit);
    std::size_t skip = sizeof(char16_t);
    if (unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 2 * sizeof(char16_t)) {
      char16_t next;
      std::memcpy(&next, in + sizeof unit, sizeof next);
      if (next >= 0xDC00 && next <= 0xDFFF) skip *= 2;
    }
    if (c1Hole(cp, unit)) {
      out.push_back(static_cast<char>(unit));
    } else {
      out += fallback;
      if (usedDefault) *usedDefault = True;
    }
    in += skip;
    inLeft -= std::min(skip, inLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }

  if (out.size() > 0x7FFFFFFF) return invalid();
  int needed = static_cast<int>(out.size());
  if (dstSize == 0) return needed;
  if (needed > dstSize) {
    SetLastError(ErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return needed;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLength, WCHAR* dst, int dstSize) {
  if (!src || srcLength == 0 || srcLength < -1 || dstSize < 0 || (dstSize > 0 && !dst)) return invalid();
  UINT cp = effective(codePage);
  iconv_t cd = descriptor(cp, false);
  if (!usable(cd)) return invalid();
  std::size_t bytes = srcLength == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLength);
  char16_t fallback = cp == Utf8 ? u'\uFFFD' : u'?';

  std::u16string out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(src);
  std::size_t inLeft = bytes;
  while (inLeft > 0) {
    char16_t buf[128];
    char* o = reinterpret_cast<char*>(buf);
    std::size_t oLeft = sizeof buf;
    std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<std::size_t>(o - reinterpret_cast<char*>(buf)) / sizeof(char16_t));
    if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // A byte (or byte pair) that is no character of the code page, or one cut off at the end.
    auto b = static_cast<unsigned char>(*in);
    std::size_t skip = 1;
    if (cp == 932 && leadByte932(b) && inLeft >= 2) skip = 2;
    if (c1Hole(cp, b)) {
      out.push_back(static_cast<char16_t>(b));
    } else {
      if (flags & MbErrInvalidChars) {
        SetLastError(ErrorNoUnicodeTranslation);
        return 0;
      }
      out.push_back(fallback);
    }
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }

  if (out.size() > 0x7FFFFFFF) return invalid();
  int needed = static_cast<int>(out.size());
  if (dstSize == 0) return needed;
  if (needed > dstSize) {
    SetLastError(ErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(char16_t));
  return needed;
}

}  // namespace ce
