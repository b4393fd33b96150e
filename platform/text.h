// Wide <-> 8-bit conversion in the handheld's default code page.
#pragma once
#include "platform/types.h"

namespace ce {

constexpr UINT CpAcp = 0;  // the default code page of the handheld (932 or 1252)
constexpr UINT CpUtf8 = 65001;
// MultiByteToWideChar: fail with ErrorNoUnicodeTranslation on a byte sequence that is no
// character, instead of putting the default character in its place.
constexpr DWORD MbErrInvalidChars = 0x08;

// As the platform's own: srcLength -1 converts up to and including the terminator; with
// dstSize 0 the required size in bytes is returned and nothing is written. The result is
// the number of bytes written (terminator included when it was converted), 0 on failure
// (the last error then says why: ErrorInsufficientBuffer, ErrorNoUnicodeTranslation, ...).
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLength, char* dst, int dstSize,
                        const char* defaultChar, BOOL* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLength, WCHAR* dst, int dstSize);

// The handheld's default code page (CpAcp resolves to it).
UINT GetACP();

}  // namespace ce
