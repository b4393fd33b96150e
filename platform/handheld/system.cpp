// System services of the handheld: coredll.dll and its exports, system information and the
// OS version from the machine's profile, debug output, the time zone from handheld.ini.
#include "platform/system.h"

#include <map>

#include "platform/files.h"
#include "platform/handheld/coredll.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/names.h"
#include "platform/handheld/state.h"

namespace handheld {
namespace {

// The module handle of coredll.dll: the address of this object, never null.
char coredllModule;
ce::HMODULE const coredll = &coredllModule;

std::map<std::u16string, ce::FARPROC>& exports() {
  static std::map<std::u16string, ce::FARPROC> table{
      {u"GetVersionEx", reinterpret_cast<ce::FARPROC>(&ce::GetVersionExW)},
  };
  return table;
}

// Whether handheld.ini leaves `name` among coredll.dll's exports.
bool exported(const Config& c, std::u16string_view name) {
  if (name == u"LockPages") return c.lockPages;
  if (name == u"UnlockPages") return c.unlockPages;
  if (name == u"GetVersionEx") return c.getVersionEx;
  return true;
}

// "coredll.dll", "CoreDll", "\Windows\coredll.dll": the module is known by its base name, and
// a name without an extension means a .dll.
bool namesCoredll(std::u16string_view name) {
  std::size_t cut = name.find_last_of(u"\\/");
  if (cut != std::u16string_view::npos) name.remove_prefix(cut + 1);
  return equalNoCase(name, u"coredll.dll") || equalNoCase(name, u"coredll");
}

void copyName(ce::WCHAR (&to)[32], std::u16string_view from) {
  std::size_t n = std::min<std::size_t>(from.size(), 31);
  std::copy_n(from.begin(), n, to);
  to[n] = 0;
}

}  // namespace

void registerExport(const std::u16string& name, ce::FARPROC procedure) {
  if (procedure) {
    exports()[name] = procedure;
  } else {
    exports().erase(name);
  }
}

int coredllReferences() { return current().state().system.coredllReferences; }

}  // namespace handheld

namespace ce {

using namespace handheld;

HMODULE LoadLibraryW(const WCHAR* name) {
  Machine& m = current();
  if (!name || !namesCoredll(name) || !m.config().coredll) {
    SetLastError(ErrorModNotFound);
    return nullptr;
  }
  ++m.state().system.coredllReferences;
  return coredll;
}

BOOL FreeLibrary(HMODULE module) {
  int& references = current().state().system.coredllReferences;
  if (module != coredll || references == 0) {
    SetLastError(ErrorInvalidHandle);
    return False;
  }
  --references;
  return True;
}

FARPROC GetProcAddressW(HMODULE module, const WCHAR* name) {
  Machine& m = current();
  if (module != coredll || m.state().system.coredllReferences == 0) {
    SetLastError(ErrorInvalidHandle);
    return nullptr;
  }
  if (name) {
    auto it = exports().find(name);
    if (it != exports().end() && exported(m.config(), it->first)) return it->second;
  }
  SetLastError(ErrorProcNotFound);
  return nullptr;
}

void GetSystemInfo(SYSTEM_INFO* info) {
  if (!info) return;
  const Profile& p = current().config().profile;
  *info = SYSTEM_INFO{};
  info->wProcessorArchitecture = p.processorArchitecture;
  info->dwPageSize = PageSize;
  // The application's part of its 32 MiB slot, as the platform reports it.
  info->lpMinimumApplicationAddress = 0x00010000;
  info->lpMaximumApplicationAddress = 0x7FFFFFFF;
  info->dwActiveProcessorMask = 1;
  info->dwNumberOfProcessors = 1;
  info->dwProcessorType = p.processorType;
  info->dwAllocationGranularity = 0x10000;
  info->wProcessorLevel = p.processorLevel;
  info->wProcessorRevision = p.processorRevision;
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
  if (!info) {
    SetLastError(ErrorInvalidParameter);
    return False;
  }
  const Profile& p = current().config().profile;
  info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  info->dwMajorVersion = static_cast<DWORD>(p.osMajor);
  info->dwMinorVersion = static_cast<DWORD>(p.osMinor);
  info->dwBuildNumber = static_cast<DWORD>(p.osBuild);
  info->dwPlatformId = 3;  // VER_PLATFORM_WIN32_CE
  std::fill(std::begin(info->szCSDVersion), std::end(info->szCSDVersion), u'\0');
  return True;
}

void OutputDebugStringW(const WCHAR* text) {
  if (text) current().debugOutput(text);
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info) {
  if (!info) {
    SetLastError(ErrorInvalidParameter);
    return 0xFFFFFFFFu;  // TIME_ZONE_ID_INVALID
  }
  const Config& c = current().config();
  *info = TIME_ZONE_INFORMATION{};
  info->Bias = c.timezoneBias;
  info->StandardBias = 0;
  info->DaylightBias = c.daylightBias;
  copyName(info->StandardName, u"Standard Time");
  copyName(info->DaylightName, u"Daylight Time");
  return c.daylight ? TimeZoneIdDaylight : TimeZoneIdStandard;
}

}  // namespace ce
