// The block devices DSK1: ... DSK9: of the handheld: raw disk images named by `diskN = FILE`
// in handheld.ini (FILE relative to the handheld folder or absolute), with the sector size,
// the flags DISK_IOCTL_GETINFO reports and an unreadable sector set per disk
// (diskN_bytes_per_sector, diskN_flags, diskN_bad_sector).
//
// A disk opens exclusively (a second opener is refused with ErrorSharingViolation while a
// handle is open) and only for existing access; a unit without an image, or an image that
// cannot be read, opens with ErrorFileNotFound. DeviceIoControl answers
//   DISK_IOCTL_GETINFO: fills the 24-byte DISK_INFO given as input buffer (or, when there is
//     none, as output buffer);
//   DISK_IOCTL_READ: the SG_REQ given as input buffer. A malformed request (too short, no or
//     too many SG_BUFs, buffers that are not live CallerBuffers or too small for the sectors)
//     fails the call with ErrorInvalidParameter; a request that reaches past the image's end or
//     covers the bad sector succeeds as a call and carries a non-zero status (ErrorSectorNotFound
//     or ErrorCrc), with nothing transferred;
//   DISK_IOCTL_WRITE and WriteFile: refused with ErrorWriteProtect; the image is never written.
#pragma once
#include <array>
#include <memory>

namespace handheld {

// Which units have an open handle; shared by the machine and its open disk handles.
struct DiskUnits {
  std::array<bool, 10> open{};
};
struct DiskState {
  std::shared_ptr<DiskUnits> units = std::make_shared<DiskUnits>();
};

// Plugs the DSK driver into the device registry (the machine does it when it is made).
void registerDisks();

// Largest number of SG_BUFs one request may carry.
constexpr unsigned MaxSgBufs = 8;

}  // namespace handheld
