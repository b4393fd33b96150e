// System services: libraries and procedures by name, system information, OS version,
// debug output, time zone.
#pragma once
#include "platform/types.h"

namespace ce {

HMODULE LoadLibraryW(const WCHAR* name);
BOOL FreeLibrary(HMODULE module);
// Returns null when the module does not export the name.
FARPROC GetProcAddressW(HMODULE module, const WCHAR* name);

struct SYSTEM_INFO {
  WORD wProcessorArchitecture = 0;
  WORD wReserved = 0;
  DWORD dwPageSize = 0;
  DWORD lpMinimumApplicationAddress = 0;
  DWORD lpMaximumApplicationAddress = 0;
  DWORD dwActiveProcessorMask = 0;
  DWORD dwNumberOfProcessors = 0;
  DWORD dwProcessorType = 0;
  DWORD dwAllocationGranularity = 0;
  WORD wProcessorLevel = 0;
  WORD wProcessorRevision = 0;
};
void GetSystemInfo(SYSTEM_INFO* info);

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  DWORD dwMajorVersion = 0;
  DWORD dwMinorVersion = 0;
  DWORD dwBuildNumber = 0;
  DWORD dwPlatformId = 0;
  WCHAR szCSDVersion[128] = {};
};
BOOL GetVersionExW(OSVERSIONINFOW* info);
using GetVersionExFn = BOOL (*)(OSVERSIONINFOW*);

void OutputDebugStringW(const WCHAR* text);

struct SYSTEMTIME {
  WORD wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0, wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};
struct TIME_ZONE_INFORMATION {
  LONG Bias = 0;  // minutes, UTC = local + Bias
  WCHAR StandardName[32] = {};
  SYSTEMTIME StandardDate;
  LONG StandardBias = 0;
  WCHAR DaylightName[32] = {};
  SYSTEMTIME DaylightDate;
  LONG DaylightBias = 0;
};
constexpr DWORD TimeZoneIdUnknown = 0;
constexpr DWORD TimeZoneIdStandard = 1;
constexpr DWORD TimeZoneIdDaylight = 2;
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info);

}  // namespace ce
