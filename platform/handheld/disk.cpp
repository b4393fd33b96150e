// DSK1: ... DSK9: over raw disk images (see disk.h).
#include "platform/handheld/disk.h"

#include <cstdint>
#include <fstream>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/handheld/devices.h"
#include "platform/handheld/names.h"
#include "platform/handheld/state.h"

namespace fs = std::filesystem;

namespace handheld {

namespace {

constexpr ce::DWORD ErrorSectorNotFound = 27;

bool failWith(ce::DWORD error) {
  ce::SetLastError(error);
  return false;
}

// A geometry for DISK_INFO: the usual 16 heads and 63 sectors per track; nothing in the
// loader depends on it.
constexpr std::uint32_t Heads = 16;
constexpr std::uint32_t SectorsPerTrack = 63;

class DiskDevice final : public Device {
 public:
  DiskDevice(std::shared_ptr<DiskUnits> units, unsigned unit, std::ifstream image, std::uint64_t bytes,
             const DiskOptions& options)
      : units_(std::move(units)), unit_(unit), image_(std::move(image)), options_(options) {
    sectors_ = bytes / options_.bytesPerSector;
    units_->open[unit_] = true;
  }

  bool write(const void*, ce::DWORD, ce::DWORD& written) override {
    written = 0;
    return failWith(ce::ErrorWriteProtect);
  }

  bool ioControl(ce::DWORD code, void* in, ce::DWORD inSize, void* out, ce::DWORD outSize,
                 ce::DWORD* returned) override {
    if (returned) *returned = 0;
    switch (code) {
      case ce::DiskIoctlGetInfo: return getInfo(in, inSize, out, outSize, returned);
      case ce::DiskIoctlRead: return read(in, inSize);
      case ce::DiskIoctlWrite: return failWith(ce::ErrorWriteProtect);
      default: return failWith(ce::ErrorInvalidFunction);
    }
  }

  void close() override {
    if (!closed_) units_->open[unit_] = false;
    closed_ = true;
  }

 private:
  bool getInfo(void* in, ce::DWORD inSize, void* out, ce::DWORD outSize, ce::DWORD* returned) {
    std::uint8_t* info = nullptr;
    if (in && inSize >= ce::DiskInfoBytes) {
      info = static_cast<std::uint8_t*>(in);
    } else if (!in && out && outSize >= ce::DiskInfoBytes) {
      info = static_cast<std::uint8_t*>(out);
      if (returned) *returned = ce::DiskInfoBytes;
    } else {
      return failWith(ce::ErrorInvalidParameter);
    }
    const std::uint32_t total = sectors_ > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(sectors_);
    ce::putLe32(info + 0, total);
    ce::putLe32(info + 4, options_.bytesPerSector);
    ce::putLe32(info + 8, total / (Heads * SectorsPerTrack));
    ce::putLe32(info + 12, Heads);
    ce::putLe32(info + 16, SectorsPerTrack);
    ce::putLe32(info + 20, options_.flags);
    return true;
  }

  bool read(void* in, ce::DWORD inSize) {
    if (!in || inSize < ce::SgReqHeaderBytes + ce::SgBufBytes) return failWith(ce::ErrorInvalidParameter);
    auto* request = static_cast<std::uint8_t*>(in);
    const std::uint32_t start = ce::getLe32(request + 0);
    const std::uint32_t count = ce::getLe32(request + 4);
    const std::uint32_t buffers = ce::getLe32(request + 8);
    auto refuse = [&](ce::DWORD error) {
      ce::putLe32(request + 12, error);
      return failWith(error);
    };
    if (buffers == 0 || buffers > MaxSgBufs || inSize < ce::SgReqHeaderBytes + buffers * ce::SgBufBytes)
      return refuse(ce::ErrorInvalidParameter);

    // Every buffer must be memory the caller handed over, and together they must hold the
    // sectors asked for.
    std::uint8_t* memory[MaxSgBufs];
    std::uint32_t lengths[MaxSgBufs];
    std::uint64_t room = 0;
    for (std::uint32_t k = 0; k < buffers; ++k) {
      const std::uint8_t* sg = request + ce::SgReqHeaderBytes + k * ce::SgBufBytes;
      lengths[k] = ce::getLe32(sg + 4);
      memory[k] = static_cast<std::uint8_t*>(callerMemory(ce::getLe32(sg), lengths[k]));
      if (!memory[k] && lengths[k] != 0) return refuse(ce::ErrorInvalidParameter);
      room += lengths[k];
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * options_.bytesPerSector;
    if (room < bytes) return refuse(ce::ErrorInvalidParameter);

    // Media errors are the request's status; the call itself went through.
    ce::DWORD status = ce::ErrorSuccess;
    if (static_cast<std::uint64_t>(start) + count > sectors_) {
      status = ErrorSectorNotFound;
    } else if (options_.badSector && *options_.badSector >= start &&
               *options_.badSector - static_cast<std::uint64_t>(start) < count) {
      status = ce::ErrorCrc;
    } else {
      image_.clear();
      image_.seekg(static_cast<std::streamoff>(static_cast<std::uint64_t>(start) * options_.bytesPerSector));
      std::uint64_t left = bytes;
      for (std::uint32_t k = 0; k < buffers && left > 0 && status == ce::ErrorSuccess; ++k) {
        const std::uint32_t n = static_cast<std::uint32_t>(left < lengths[k] ? left : lengths[k]);
        if (!image_.read(reinterpret_cast<char*>(memory[k]), n)) status = ce::ErrorReadFault;
        left -= n;
      }
    }
    ce::putLe32(request + 12, status);
    return true;
  }

  std::shared_ptr<DiskUnits> units_;
  unsigned unit_;
  std::ifstream image_;
  DiskOptions options_;
  std::uint64_t sectors_ = 0;
  bool closed_ = false;
};

std::unique_ptr<Device> openDisk(const DeviceRequest& request) {
  Machine& machine = request.machine;
  const unsigned unit = request.unit;
  if (unit < 1 || unit > 9 || machine.config().disks[unit - 1].empty()) {
    ce::SetLastError(ce::ErrorFileNotFound);
    return nullptr;
  }
  if (request.disposition != ce::OpenExisting) {
    ce::SetLastError(ce::ErrorInvalidParameter);
    return nullptr;
  }
  std::shared_ptr<DiskUnits>& units = machine.state().disks.units;
  if (units->open[unit]) {
    ce::SetLastError(ce::ErrorSharingViolation);
    return nullptr;
  }
  const std::string& name = machine.config().disks[unit - 1];
  fs::path path(std::u8string(name.begin(), name.end()));
  if (path.is_relative()) path = machine.root() / path;
  std::error_code ec;
  const std::uint64_t bytes = fs::file_size(path, ec);
  std::ifstream image(path, std::ios::binary);
  if (ec || !image) {
    ce::SetLastError(ce::ErrorFileNotFound);
    return nullptr;
  }
  return std::make_unique<DiskDevice>(units, unit, std::move(image), bytes, machine.config().diskOptions[unit - 1]);
}

}  // namespace

void registerDisks() { registerDeviceOpener(u"DSK", openDisk); }

}  // namespace handheld
