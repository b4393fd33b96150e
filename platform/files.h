// Files and devices: open/create, read, write, size, position, flush, close, directory
// listing, last error, device control and serial line settings.
#pragma once
#include "platform/types.h"

namespace ce {

// Access rights.
constexpr DWORD GenericRead = 0x80000000u;
constexpr DWORD GenericWrite = 0x40000000u;
// Sharing modes; 0 = no sharing: every other opener is refused while the handle is open.
constexpr DWORD FileShareRead = 0x1;
constexpr DWORD FileShareWrite = 0x2;
// Creation dispositions.
constexpr DWORD CreateNew = 1;
constexpr DWORD CreateAlways = 2;
constexpr DWORD OpenExisting = 3;
constexpr DWORD OpenAlways = 4;
constexpr DWORD TruncateExisting = 5;
// Attributes.
constexpr DWORD FileAttributeReadOnly = 0x01;
constexpr DWORD FileAttributeHidden = 0x02;
constexpr DWORD FileAttributeSystem = 0x04;
constexpr DWORD FileAttributeDirectory = 0x10;
constexpr DWORD FileAttributeArchive = 0x20;
constexpr DWORD FileAttributeNormal = 0x80;
constexpr DWORD FileAttributeTemporary = 0x100;
// SetFilePointer methods and results.
constexpr DWORD FileBegin = 0;
constexpr DWORD FileCurrent = 1;
constexpr DWORD FileEnd = 2;
constexpr DWORD InvalidSetFilePointer = 0xFFFFFFFFu;
constexpr DWORD InvalidFileSize = 0xFFFFFFFFu;
constexpr DWORD InvalidFileAttributes = 0xFFFFFFFFu;

constexpr int MaxPath = 260;

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  DWORD dwOID = 0;
  WCHAR cFileName[MaxPath] = {};
};

// Paths use '\' and are absolute from the root of the device ("\Storage Card\corvid.gz").
// Devices are named like "COM1:" and "DSK1:".
HANDLE CreateFileW(const WCHAR* name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileW(const WCHAR* name);
BOOL MoveFileW(const WCHAR* existing, const WCHAR* newName);
BOOL CreateDirectoryW(const WCHAR* name, void* security);
DWORD GetFileAttributesW(const WCHAR* name);

HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

DWORD GetLastError();
void SetLastError(DWORD code);

BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                     void* overlapped);

// Block devices ("DSK1:"): the disk driver's control codes and records. Both records are
// 32-bit little-endian words, written and read field by field:
//   DISK_INFO (24 bytes): total sectors, bytes per sector, cylinders, heads, sectors per track,
//   flags.
//   SG_REQ (20 bytes + 8 per SG_BUF): start sector, number of sectors, number of SG_BUFs,
//   status (set by the driver), completion callback (0); then each SG_BUF: buffer address,
//   length in bytes.
constexpr DWORD DiskIoctlGetInfo = 1;
constexpr DWORD DiskIoctlRead = 2;
constexpr DWORD DiskIoctlWrite = 3;
constexpr DWORD DiskInfoBytes = 24;
constexpr DWORD SgReqHeaderBytes = 20;
constexpr DWORD SgBufBytes = 8;
constexpr DWORD DiskInfoFlagMbr = 0x1;
constexpr DWORD DiskInfoFlagUnformatted = 0x4;

// A request record holds buffer addresses as the device's 32-bit pointers. A CallerBuffer gives
// `buffer` (of `length` bytes) such an address for as long as it lives; a driver reaches only
// memory inside a live CallerBuffer through an address. address() is 0 when none could be given.
class CallerBuffer {
 public:
  CallerBuffer(void* buffer, DWORD length);
  ~CallerBuffer();
  CallerBuffer(const CallerBuffer&) = delete;
  CallerBuffer& operator=(const CallerBuffer&) = delete;
  DWORD address() const { return address_; }

 private:
  DWORD address_ = 0;
};

// Serial line settings (the fields the loader uses; the rest are carried along unchanged).
struct DCB {
  DWORD DCBlength = sizeof(DCB);
  DWORD BaudRate = 0;
  DWORD fBinary = 1;
  DWORD fParity = 0;
  BYTE ByteSize = 8;
  BYTE Parity = 0;    // 0 none
  BYTE StopBits = 0;  // 0 one stop bit
};
BOOL GetCommState(HANDLE port, DCB* dcb);
BOOL SetCommState(HANDLE port, const DCB* dcb);

}  // namespace ce
