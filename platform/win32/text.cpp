// Wide <-> 8-bit conversion through the system's own tables, in the handheld's code page:
// the default code page is the simulated device's (932 on the Japanese models), not the one
// of the machine the program happens to run on.
#include <windows.h>

#include "platform/files.h"
#include "platform/handheld/machine.h"
#include "platform/text.h"

namespace ce {
namespace {

// A handheld without a machine installed yet is taken for a western one.
constexpr UINT FallbackCodePage = 1252;

// The OEM code page of a handheld is its ANSI one.
UINT resolve(UINT codePage) { return codePage == CP_ACP || codePage == CP_OEMCP ? ce::GetACP() : codePage; }

}  // namespace

UINT GetACP() { return handheld::installed() ? handheld::current().config().profile.codePage : FallbackCodePage; }

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLength, char* dst, int dstSize,
                        const char* defaultChar, BOOL* usedDefault) {
  int n = ::WideCharToMultiByte(resolve(codePage), flags, reinterpret_cast<const wchar_t*>(src), srcLength, dst,
                                dstSize, defaultChar, usedDefault);
  if (n == 0) ce::SetLastError(::GetLastError());
  return n;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLength, WCHAR* dst, int dstSize) {
  int n = ::MultiByteToWideChar(resolve(codePage), flags, src, srcLength, reinterpret_cast<wchar_t*>(dst), dstSize);
  if (n == 0) ce::SetLastError(::GetLastError());
  return n;
}

}  // namespace ce
