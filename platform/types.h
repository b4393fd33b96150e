// Basic types of the platform's service interface. Everything above platform/ reaches the
// handheld only through the declarations in this folder; nothing of the host system leaks in.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ce {

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using WCHAR = char16_t;

using HANDLE = void*;
using HMODULE = void*;
using HWND = void*;
using HDC = void*;
using HINSTANCE = void*;
using FARPROC = void (*)();

// The platform's invalid handle: all bits set.
inline HANDLE const InvalidHandleValue = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

constexpr BOOL True = 1;
constexpr BOOL False = 0;

// Page size of every supported handheld.
constexpr DWORD PageSize = 4096;

// Last-error codes, with the platform's values.
enum ErrorCode : DWORD {
  ErrorSuccess = 0,
  ErrorInvalidFunction = 1,
  ErrorFileNotFound = 2,
  ErrorPathNotFound = 3,
  ErrorTooManyOpenFiles = 4,
  ErrorAccessDenied = 5,
  ErrorInvalidHandle = 6,
  ErrorNotEnoughMemory = 8,
  ErrorOutOfMemory = 14,
  ErrorNoMoreFiles = 18,
  ErrorWriteProtect = 19,
  ErrorNotReady = 21,
  ErrorCrc = 23,
  ErrorSeek = 25,
  ErrorWriteFault = 29,
  ErrorReadFault = 30,
  ErrorGenFailure = 31,
  ErrorSharingViolation = 32,
  ErrorHandleEof = 38,
  ErrorNotSupported = 50,
  ErrorFileExists = 80,
  ErrorInvalidParameter = 87,
  ErrorDiskFull = 112,
  ErrorInsufficientBuffer = 122,
  ErrorInvalidName = 123,
  ErrorModNotFound = 126,
  ErrorProcNotFound = 127,
  ErrorNegativeSeek = 131,
  ErrorDirNotEmpty = 145,
  ErrorAlreadyExists = 183,
  ErrorNoUnicodeTranslation = 1113,
};

}  // namespace ce
