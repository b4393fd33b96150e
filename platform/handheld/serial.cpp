// COM1: the serial driver, the two UART models and the line they share.
#include "platform/handheld/serial.h"

#include <array>
#include <cstdio>
#include <fstream>

#include "platform/files.h"
#include "platform/handheld/devices.h"
#include "platform/handheld/names.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/state.h"

namespace fs = std::filesystem;

namespace handheld {

// The transmitter of either UART: a FIFO of `depth` bytes drained one byte per PollsPerByte
// status reads. Bytes are put on the line when the transmitter takes them, so the line keeps
// the order in which the program wrote them.
struct Transmitter {
  int depth = 1;
  int pending = 0;  // bytes taken and not yet shifted out
  int ticks = 0;    // status reads left for the byte being shifted out

  bool room() const { return pending < depth; }
  bool idle() const { return pending == 0; }
  bool take() {
    if (!room()) return false;
    if (pending++ == 0) ticks = PollsPerByte;
    return true;
  }
  void tick() {
    if (pending > 0 && --ticks == 0 && --pending > 0) ticks = PollsPerByte;
  }
};

class SerialLine {
 public:
  explicit SerialLine(Machine& machine)
      : machine_(machine), sinkSpec_(machine.config().com1), settingsFail_(machine.config().com1SettingsFail) {
    dcb_.BaudRate = DefaultSerialSpeed;
    transmitter_.depth = machine.config().profile.family == Family::SA11x0 ? Sa11x0FifoDepth : 1;
  }

  // ---- the line ----

  void send(std::string_view bytes) {
    if (bytes.empty()) return;
    if (log_.empty() || log_.back().speed != dcb_.BaudRate) log_.push_back({dcb_.BaudRate, {}});
    log_.back().bytes.append(bytes);
    toSink(bytes);
  }
  const std::vector<SerialRun>& log() const { return log_; }
  bool present() const { return sinkSpec_ != "none"; }

  // ---- the driver ----

  bool settingsFail() const { return settingsFail_; }
  ce::DCB& dcb() { return dcb_; }
  int& openers() { return openers_; }

  // ---- the UART ----

  std::uint8_t read8(std::uint32_t offset) {
    const bool sa = machine_.config().profile.family == Family::SA11x0;
    if (sa && offset == Sa11x0Utsr1) return status(Sa11x0Tby, Sa11x0Tnf);
    if (!sa && offset == Pxa2x0Lsr) return status(0, Pxa2x0Tdrq | Pxa2x0Temt);
    if (!sa && offset == Pxa2x0Iir) {
      ++counters_.iirReads;
      return 0x01;  // no interrupt pending
    }
    if (sa && offset == Sa11x0Utdr) return 0;              // nothing received
    if (!sa && offset == Pxa2x0Thr && !dlab()) return 0;   // RBR: nothing received
    return registers_[offset];
  }

  void write8(std::uint32_t offset, std::uint8_t value) {
    const bool sa = machine_.config().profile.family == Family::SA11x0;
    if ((sa && offset == Sa11x0Utdr) || (!sa && offset == Pxa2x0Thr && !dlab())) {
      transmit(value);
      return;
    }
    if (!sa && offset == Pxa2x0Iir) return;  // FCR: the FIFO stays off
    registers_[offset] = value;
  }

  const UartCounters& counters() const { return counters_; }

 private:
  bool dlab() const { return registers_[Pxa2x0Lcr] & 0x80; }

  // Reports the transmitter, then lets one tick pass. `busyBits` are set while it is busy,
  // `readyBits` while it has room (on the PXA-2x0, whose FIFO is off, room means empty).
  std::uint8_t status(std::uint8_t busyBits, std::uint8_t readyBits) {
    ++counters_.statusReads;
    std::uint8_t value = 0;
    if (machine_.faults().uartNeverReady) {
      value = busyBits;
    } else {
      if (!transmitter_.idle()) value |= busyBits;
      if (transmitter_.room()) value |= readyBits;
    }
    transmitter_.tick();
    return value;
  }

  void transmit(std::uint8_t byte) {
    if (machine_.faults().uartNeverReady || !transmitter_.take()) {
      ++counters_.overruns;
      return;
    }
    ++counters_.accepted;
    const char c = static_cast<char>(byte);
    send(std::string_view(&c, 1));
  }

  void toSink(std::string_view bytes) {
    if (sinkSpec_ == "stdout") {
      // Stands in for a terminal on the line, which shows nothing for a NUL (the banner ends
      // in one); left in, it would make the command's output a binary file to grep and less.
      for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find('\0', at);
        if (end == std::string_view::npos) end = bytes.size();
        std::fwrite(bytes.data() + at, 1, end - at, stdout);
        at = end + 1;
      }
      std::fflush(stdout);
      return;
    }
    if (sinkSpec_.rfind("file:", 0) != 0) return;  // none
    if (!file_.is_open() && !fileFailed_) {
      std::string name = sinkSpec_.substr(5);
      fs::path path(std::u8string(name.begin(), name.end()));
      if (path.is_relative()) path = machine_.root() / path;
      // A fresh log for each machine: the line starts when the handheld is switched on.
      file_.open(path, std::ios::binary | std::ios::trunc);
      if (!file_) {
        fileFailed_ = true;
        std::fprintf(stderr, "handheld: can't write the serial log %s\n", pathText(path).c_str());
      }
    }
    if (!file_.is_open()) return;
    file_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file_.flush();
  }

  Machine& machine_;
  std::string sinkSpec_;
  bool settingsFail_;
  std::vector<SerialRun> log_;
  std::ofstream file_;
  bool fileFailed_ = false;
  ce::DCB dcb_;
  int openers_ = 0;  // open driver handles
  Transmitter transmitter_;
  std::array<std::uint8_t, UartBlockSize> registers_{};
  UartCounters counters_;
};

namespace {

std::shared_ptr<SerialLine> lineOf(Machine& machine) {
  auto& line = machine.state().serial.line;
  if (!line) line = std::make_shared<SerialLine>(machine);
  return line;
}

SerialLine& line() { return *lineOf(current()); }

bool failWith(ce::DWORD error) {
  ce::SetLastError(error);
  return false;
}

// An open handle on "COM1:". The port is exclusive: while one handle is open, a second open
// is refused.
class ComDevice final : public Device {
 public:
  ComDevice(std::shared_ptr<SerialLine> line, ce::DWORD access) : line_(std::move(line)), access_(access) {
    ++line_->openers();
  }

  bool read(void*, ce::DWORD, ce::DWORD& read) override {
    read = 0;
    if (!(access_ & ce::GenericRead)) return failWith(ce::ErrorAccessDenied);
    return true;  // nothing is ever received
  }
  bool write(const void* buffer, ce::DWORD toWrite, ce::DWORD& written) override {
    written = 0;
    if (!(access_ & ce::GenericWrite)) return failWith(ce::ErrorAccessDenied);
    if (toWrite && !buffer) return failWith(ce::ErrorInvalidParameter);
    line_->send(std::string_view(static_cast<const char*>(buffer), toWrite));
    written = toWrite;
    return true;
  }
  bool getCommState(ce::DCB& dcb) override {
    if (line_->settingsFail()) return failWith(ce::ErrorGenFailure);
    dcb = line_->dcb();
    return true;
  }
  bool setCommState(const ce::DCB& dcb) override {
    if (line_->settingsFail()) return failWith(ce::ErrorGenFailure);
    // What the UARTs can do: a speed, 5 to 8 data bits, parity none/odd/even/mark/space,
    // one, one and a half or two stop bits.
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2)
      return failWith(ce::ErrorInvalidParameter);
    line_->dcb() = dcb;
    return true;
  }
  void close() override {
    if (!closed_) --line_->openers();
    closed_ = true;
  }

 private:
  std::shared_ptr<SerialLine> line_;
  ce::DWORD access_;
  bool closed_ = false;
};

}  // namespace

void registerComDevice() {
  registerDeviceOpener(u"COM", [](const DeviceRequest& request) -> std::unique_ptr<Device> {
    Machine& machine = request.machine;
    // Only COM1 exists, and only while its driver is loaded.
    if (request.unit != 1 || machine.config().com1 == "none") {
      ce::SetLastError(ce::ErrorFileNotFound);
      return nullptr;
    }
    if (request.disposition != ce::OpenExisting) {
      ce::SetLastError(ce::ErrorInvalidParameter);
      return nullptr;
    }
    std::shared_ptr<SerialLine> line = lineOf(machine);
    if (line->openers() > 0) {
      ce::SetLastError(ce::ErrorAccessDenied);
      return nullptr;
    }
    return std::make_unique<ComDevice>(std::move(line), request.access);
  });
}

const std::vector<SerialRun>& serialLog() { return line().log(); }

std::string serialBytes() {
  std::string all;
  for (const SerialRun& run : line().log()) all += run.bytes;
  return all;
}

std::uint32_t serialSpeed() { return line().dcb().BaudRate; }

const UartCounters& uartCounters() { return line().counters(); }

bool serialPortPresent() { return line().present(); }

void serialTransmit(std::string_view bytes) { line().send(bytes); }

void attachUart(Machine& machine, PhysicalMemory& memory) {
  const std::uint32_t base =
      machine.config().profile.family == Family::SA11x0 ? Sa11x0Uart3Base : Pxa2x0FfuartBase;
  // The hooks find the line through the machine, which outlives its physical memory.
  Machine* m = &machine;
  memory.registerDevice(base, UartBlockSize,
                        MmioDevice{[m, base](std::uint32_t physical) { return lineOf(*m)->read8(physical - base); },
                                   [m, base](std::uint32_t physical, std::uint8_t value) {
                                     lineOf(*m)->write8(physical - base, value);
                                   }});
}

}  // namespace handheld
