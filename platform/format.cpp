// The wide formatter (format.h): one definition for the whole program.
#include "platform/format.h"

namespace ce {

namespace {

// Widths and precisions beyond this are cut to it: the output is cut at the buffer's end
// anyway, and a width taken from an argument ('*') must not make the formatter spin through
// two thousand million pad characters.
constexpr int maxField = 100000;

struct Out {
  char16_t* buf;
  std::size_t cap;  // units, terminator included
  std::size_t len = 0;
  void put(char16_t c) {
    if (cap > 0 && len + 1 < cap) buf[len++] = c;
  }
  void repeat(char16_t c, int n) {
    for (int k = 0; k < n; ++k) put(c);
  }
};

std::uint64_t asUnsigned(const FormatArg& a, int bits) {
  std::uint64_t v = 0;
  switch (a.kind) {
    case FormatArg::Kind::Signed: v = static_cast<std::uint64_t>(a.i); break;
    case FormatArg::Kind::Unsigned: v = a.u; break;
    case FormatArg::Kind::Pointer: v = reinterpret_cast<std::uintptr_t>(a.p); break;
    case FormatArg::Kind::Wide: v = reinterpret_cast<std::uintptr_t>(a.ws); break;
    case FormatArg::Kind::Narrow: v = reinterpret_cast<std::uintptr_t>(a.s); break;
  }
  if (bits == 16) return v & 0xFFFFu;
  if (bits == 32) return v & 0xFFFFFFFFu;
  return v;
}

std::int64_t asSigned(const FormatArg& a, int bits) {
  std::uint64_t v = asUnsigned(a, 64);
  if (bits == 16) return static_cast<std::int16_t>(v & 0xFFFFu);
  if (bits == 32) return static_cast<std::int32_t>(v & 0xFFFFFFFFu);
  return static_cast<std::int64_t>(v);
}

void number(Out& out, std::uint64_t mag, bool negative, unsigned base, bool upper, bool alt, bool zeroPad,
                   bool left, char16_t sign, int width, int precision) {
  char16_t digits[24];
  int n = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  if (mag == 0 && precision != 0) digits[n++] = u'0';
  while (mag) {
    digits[n++] = static_cast<char16_t>(set[mag % base]);
    mag /= base;
  }
  char16_t prefix[2];
  int pn = 0;
  if (negative) {
    prefix[pn++] = u'-';
  } else if (sign) {
    prefix[pn++] = sign;
  }
  bool hexPrefix = alt && base == 16 && n > 0 && !(n == 1 && digits[0] == u'0');
  bool octPrefix = alt && base == 8 && !(n > 0 && digits[n - 1] == u'0');
  int zeros = precision > n ? precision - n : 0;
  if (octPrefix && zeros == 0) zeros = 1;
  int body = pn + (hexPrefix ? 2 : 0) + zeros + n;
  int pad = width > body ? width - body : 0;
  if (zeroPad && !left && precision < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!left) out.repeat(u' ', pad);
  for (int k = 0; k < pn; ++k) out.put(prefix[k]);
  if (hexPrefix) {
    out.put(u'0');
    out.put(upper ? u'X' : u'x');
  }
  out.repeat(u'0', zeros);
  while (n) out.put(digits[--n]);
  if (left) out.repeat(u' ', pad);
}

template <class Ch>
void text(Out& out, const Ch* s, bool left, int width, int precision) {
  static const char16_t nullText[] = u"(null)";
  int n = 0;
  if (!s) {
    for (; nullText[n] && (precision < 0 || n < precision); ++n) {
    }
  } else {
    while (s[n] && (precision < 0 || n < precision)) ++n;
  }
  int pad = width > n ? width - n : 0;
  if (!left) out.repeat(u' ', pad);
  for (int k = 0; k < n; ++k) {
    out.put(s ? static_cast<char16_t>(static_cast<std::make_unsigned_t<Ch>>(s[k])) : nullText[k]);
  }
  if (left) out.repeat(u' ', pad);
}

}  // namespace

std::size_t vformat(char16_t* buf, std::size_t cap, const char16_t* fmt, const FormatArg* args, std::size_t count) {
  Out out{buf, cap};
  std::size_t next = 0;
  auto take = [&]() -> const FormatArg* { return next < count ? &args[next++] : nullptr; };
  for (const char16_t* f = fmt; f && *f; ++f) {
    if (*f != u'%') {
      out.put(*f);
      continue;
    }
    const char16_t* start = f;
    ++f;
    if (*f == u'%') {
      out.put(u'%');
      continue;
    }
    bool left = false, zero = false, alt = false;
    char16_t sign = 0;
    for (;; ++f) {
      if (*f == u'-') left = true;
      else if (*f == u'0') zero = true;
      else if (*f == u'#') alt = true;
      else if (*f == u'+') sign = u'+';
      else if (*f == u' ') { if (sign != u'+') sign = u' '; }
      else break;
    }
    int width = 0;
    if (*f == u'*') {
      const FormatArg* a = take();
      std::int64_t w = a ? asSigned(*a, 32) : 0;
      if (w < 0) {
        left = true;
        w = -w;  // 64-bit, so the most negative int has a magnitude too
      }
      width = static_cast<int>(w < maxField ? w : maxField);
      ++f;
    } else {
      while (*f >= u'0' && *f <= u'9') {
        if (width < maxField) width = width * 10 + (*f - u'0');
        ++f;
      }
      if (width > maxField) width = maxField;
    }
    int precision = -1;
    if (*f == u'.') {
      ++f;
      precision = 0;
      if (*f == u'*') {
        const FormatArg* a = take();
        std::int64_t p = a ? asSigned(*a, 32) : 0;
        precision = p < 0 ? -1 : static_cast<int>(p < maxField ? p : maxField);
        ++f;
      } else {
        while (*f >= u'0' && *f <= u'9') {
          if (precision < maxField) precision = precision * 10 + (*f - u'0');
          ++f;
        }
        if (precision > maxField) precision = maxField;
      }
    }
    int bits = 32;
    for (;;) {
      if (*f == u'h') { bits = 16; ++f; }
      else if (*f == u'l') { if (f[1] == u'l') { bits = 64; ++f; } ++f; }
      else if (*f == u'I' && f[1] == u'6' && f[2] == u'4') { bits = 64; f += 3; }
      else if (*f == u'w' || *f == u'z') { ++f; }
      else break;
    }
    char16_t conv = *f;
    if (!conv) {
      // A lone '%' at the end: printed as it stands.
      for (const char16_t* c = start; c < f; ++c) out.put(*c);
      break;
    }
    const FormatArg* a = nullptr;
    switch (conv) {
      case u'd':
      case u'i': {
        a = take();
        if (!a) break;
        std::int64_t v = asSigned(*a, a->kind == FormatArg::Kind::Unsigned && bits == 32 ? 32 : bits);
        std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        number(out, mag, v < 0, 10, false, false, zero, left, sign, width, precision);
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        a = take();
        if (!a) break;
        unsigned base = conv == u'u' ? 10 : conv == u'o' ? 8 : 16;
        number(out, asUnsigned(*a, bits), false, base, conv == u'X', alt, zero, left, 0, width, precision);
        break;
      }
      case u'p': {
        a = take();
        if (!a) break;
        number(out, asUnsigned(*a, 32), false, 16, true, false, true, left, 0, width > 8 ? width : 8, -1);
        break;
      }
      case u'c':
      case u'C': {
        a = take();
        if (!a) break;
        std::uint64_t v = asUnsigned(*a, 32);
        char16_t c = conv == u'C' ? static_cast<char16_t>(v & 0xFF) : static_cast<char16_t>(v & 0xFFFF);
        int pad = width > 1 ? width - 1 : 0;
        if (!left) out.repeat(u' ', pad);
        out.put(c);
        if (left) out.repeat(u' ', pad);
        break;
      }
      case u's':
      case u'S': {
        a = take();
        if (!a) break;
        // The argument's own type decides how it is read; %s and %S only say what the
        // caller expects, so a wrong one cannot misread memory.
        if (a->kind == FormatArg::Kind::Wide) text(out, a->ws, left, width, precision);
        else if (a->kind == FormatArg::Kind::Narrow) text(out, a->s, left, width, precision);
        else if (a->kind == FormatArg::Kind::Pointer && a->p == nullptr)
          text(out, static_cast<const char*>(nullptr), left, width, precision);
        else text(out, u"(?)", left, width, precision);
        break;
      }
      default:
        // Unknown conversion: printed as it stands, consuming nothing.
        for (const char16_t* c = start; c <= f; ++c) out.put(*c);
        break;
    }
  }
  if (cap > 0) buf[out.len] = 0;
  return out.len;
}

}  // namespace ce
