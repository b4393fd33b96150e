// Wide printf-style formatting into a bounded buffer, in the conventions of the handheld's
// own wide formatter: %s wide string, %S 8-bit string, %c wide character, %C 8-bit character,
// %d %i %u %x %X %o %p, flags '-' '0' '#' '+' ' ', width and precision (also '*'), length
// modifiers h, l, ll, I64. Integers are 32-bit unless ll or I64 is given, as on the 32-bit
// handheld. Arguments are captured with their types, so a mismatched argument can never read
// past what was passed; the output is cut at the buffer's end and always terminated.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ce {

struct FormatArg {
  enum class Kind { Signed, Unsigned, Wide, Narrow, Pointer };
  Kind kind;
  union {
    std::int64_t i;
    std::uint64_t u;
    const char16_t* ws;
    const char* s;
    const void* p;
  };

  FormatArg(const char16_t* v) : kind(Kind::Wide), ws(v) {}
  FormatArg(char16_t* v) : kind(Kind::Wide), ws(v) {}
  FormatArg(const char* v) : kind(Kind::Narrow), s(v) {}
  FormatArg(char* v) : kind(Kind::Narrow), s(v) {}
  FormatArg(const unsigned char* v) : kind(Kind::Narrow), s(reinterpret_cast<const char*>(v)) {}
  FormatArg(unsigned char* v) : kind(Kind::Narrow), s(reinterpret_cast<const char*>(v)) {}
  FormatArg(std::nullptr_t) : kind(Kind::Pointer), p(nullptr) {}
  FormatArg(char16_t v) : kind(Kind::Unsigned), u(v) {}
  FormatArg(char v) : kind(Kind::Signed), i(static_cast<unsigned char>(v)) {}
  FormatArg(bool v) : kind(Kind::Signed), i(v ? 1 : 0) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  FormatArg(T v) : kind(Kind::Signed), i(static_cast<std::int64_t>(v)) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
  FormatArg(T v) : kind(Kind::Unsigned), u(static_cast<std::uint64_t>(v)) {}
  template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
  FormatArg(T v) : FormatArg(static_cast<std::underlying_type_t<T>>(v)) {}
  template <class T, std::enable_if_t<!std::is_same_v<std::remove_cv_t<T>, char> &&
                                          !std::is_same_v<std::remove_cv_t<T>, char16_t> &&
                                          !std::is_same_v<std::remove_cv_t<T>, unsigned char>,
                                      int> = 0>
  FormatArg(T* v) : kind(Kind::Pointer), p(v) {}
};

// Formats into buf (cap units, terminator included). Returns the number of units written,
// terminator excluded.
std::size_t vformat(char16_t* buf, std::size_t cap, const char16_t* fmt, const FormatArg* args, std::size_t count);

template <class... Args>
std::size_t format(char16_t* buf, std::size_t cap, const char16_t* fmt, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return vformat(buf, cap, fmt, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return vformat(buf, cap, fmt, list, sizeof...(Args));
  }
}

}  // namespace ce
