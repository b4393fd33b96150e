// Devices of the handheld ("COM1:", "DSK1:" ... "DSK9:"). CreateFileW hands a name of the form
// three letters, a unit digit and a colon to the opener registered for those three letters;
// ReadFile, WriteFile, DeviceIoControl, GetCommState, SetCommState and CloseHandle on the
// handle go to the Device it returned. A name whose letters have no opener opens with
// ErrorFileNotFound, as a device whose driver is not loaded does.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/types.h"

namespace handheld {

class Machine;

// An open device. Every operation returns false on failure after setting the platform's last
// error (ce::SetLastError); the defaults refuse with ErrorInvalidFunction.
class Device {
 public:
  virtual ~Device() = default;
  virtual bool read(void* buffer, ce::DWORD toRead, ce::DWORD& read);
  virtual bool write(const void* buffer, ce::DWORD toWrite, ce::DWORD& written);
  virtual bool ioControl(ce::DWORD code, void* in, ce::DWORD inSize, void* out, ce::DWORD outSize,
                         ce::DWORD* returned);
  virtual bool getCommState(ce::DCB& dcb);
  virtual bool setCommState(const ce::DCB& dcb);
  // Called once when the handle is closed, or when the machine goes away with the handle
  // still open; in that case the machine is no longer current, so a device keeps what it
  // needs of it (DeviceRequest::machine) rather than reaching for handheld::current().
  virtual void close() {}
};

struct DeviceRequest {
  Machine& machine;
  unsigned unit;  // the digit of the name: 1 for "DSK1:"
  ce::DWORD access;
  ce::DWORD shareMode;
  ce::DWORD disposition;
};

// Returns the open device, or null after setting the last error.
using DeviceOpener = std::function<std::unique_ptr<Device>(const DeviceRequest& request)>;

// `prefix` is the three letters of the name ("COM", "DSK"), matched without regard to case.
// Registering a prefix again replaces its opener; an empty opener removes it.
void registerDeviceOpener(const std::u16string& prefix, DeviceOpener opener);

// The handheld's own devices, registered by name every time a machine is installed (a
// static-initializer registration in a static library is dropped by the linker when nothing
// else of its file is used): "COM" (serial.cpp), "DSK" (disk.cpp).
void registerBuiltInDevices();
void registerComDevice();

// The memory behind a 32-bit address of a request record (see ce::CallerBuffer): null unless
// [address, address + length) lies inside one live CallerBuffer.
void* callerMemory(ce::DWORD address, ce::DWORD length);

}  // namespace handheld
