#include "handoff/qemu_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/bytes.h"

extern char** environ;

namespace kestrel::handoff {

namespace {

// Checked against QEMU 7.2: collie's SA-1110 connects -serial 0, 1, 2 to UART 1, 2 and 3 in
// that order, so UART 3 (0x80050000, the console of SA-11x0 handhelds) is the third; tosa and
// akita connect the first -serial to the FFUART. collie has 512 MiB at 0xC0000000 (all four
// DRAM banks), tosa and akita 64 MiB at 0xA0000000; each has a boot ROM or flash at 0.
const QemuBoardInfo boards[] = {
    {QemuBoard::Collie, "collie", "SA-1110", 0xC0000000, 0x20000000, 0x80050000, 2},
    {QemuBoard::Tosa, "tosa", "PXA255", 0xA0000000, 0x04000000, 0x40100000, 0},
    {QemuBoard::Akita, "akita", "PXA270", 0xA0000000, 0x04000000, 0x40100000, 0},
};

std::string hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

// QEMU's error lines ("qemu-system-arm: ..."), warnings left out (the PXA boards warn about
// their empty SD card slot), joined by newlines.
std::string qemuErrors(const std::string& text, const std::string& program) {
  std::string found;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(program + ":", 0) == 0 && line.find(": warning:") == std::string::npos) {
      if (!found.empty()) found += '\n';
      found += line;
    }
    start = end + 1;
  }
  return found;
}

}  // namespace

const QemuBoardInfo& boardInfo(QemuBoard board) {
  for (const auto& b : boards)
    if (b.board == board) return b;
  return boards[0];
}

std::optional<QemuBoard> boardForProcessor(std::string_view processor) {
  if (processor == "SA-1100" || processor == "SA-1110") return QemuBoard::Collie;
  if (processor == "PXA250" || processor == "PXA255") return QemuBoard::Tosa;
  if (processor == "PXA270") return QemuBoard::Akita;
  return std::nullopt;
}

std::vector<std::string> qemuCommandLine(const QemuLaunch& launch) {
  const QemuBoardInfo& board = boardInfo(launch.board);
  std::vector<std::string> args = {launch.executable, "-M", board.machine,
                                   // No display, no monitor: only the UART talks, on stdout.
                                   "-display", "none", "-monitor", "none", "-nodefaults",
                                   // The kernel's exit through the semihosting SYS_EXIT call ends QEMU with its
                                   // status.
                                   "-semihosting-config", "enable=on,target=native"};
  for (int i = 0; i < board.uartSerialIndex; ++i) {
    args.push_back("-serial");
    args.push_back("null");
  }
  args.push_back("-serial");
  args.push_back("stdio");
  // The boot ROM at 0 holds the start routine; the CPU leaves reset there.
  args.push_back("-device");
  args.push_back("loader,file=" + launch.rom.string() + ",addr=0x0,force-raw=on");
  for (const QemuBlob& blob : launch.memory) {
    args.push_back("-device");
    args.push_back("loader,file=" + blob.file.string() + ",addr=" + hex(blob.address) + ",force-raw=on");
  }
  return args;
}

std::vector<std::uint8_t> startRom(const std::uint32_t (&r)[4], const unsigned char* jumpRoutine,
                                   std::size_t jumpRoutineSize) {
  // Each ldr reads the word 0x10 bytes beyond its pc (its own address + 8), so the five
  // loads fetch the five words at 0x1C..0x2C.
  const std::uint32_t code[] = {
      0xE321F0DF,  // 00: msr  cpsr_c, #0xdf     System mode, IRQ and FIQ masked
      0xE59F0010,  // 04: ldr  r0, [pc, #16]     r0 from 0x1c
      0xE59F1010,  // 08: ldr  r1, [pc, #16]     r1 from 0x20
      0xE59F2010,  // 0c: ldr  r2, [pc, #16]     r2 from 0x24
      0xE59F3010,  // 10: ldr  r3, [pc, #16]     r3 from 0x28
      0xE59FF010,  // 14: ldr  pc, [pc, #16]     enter the jump routine (address at 0x2c)
      0xEAFFFFFE,  // 18: b    .                 never reached
      r[0], r[1], r[2], r[3],
      RomJumpRoutineOffset,
  };
  std::vector<std::uint8_t> rom(RomJumpRoutineOffset + jumpRoutineSize, 0);
  for (std::size_t i = 0; i < sizeof code / sizeof code[0]; ++i) ce::putLe32(&rom[i * 4], code[i]);
  if (jumpRoutineSize) std::memcpy(&rom[RomJumpRoutineOffset], jumpRoutine, jumpRoutineSize);
  return rom;
}

bool qemuAvailable(const std::string& executable) {
  if (executable.find('/') != std::string::npos) return ::access(executable.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string all = path;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string dir = all.substr(start, end - start);
    if (dir.empty()) dir = ".";
    if (::access((dir + "/" + executable).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

QemuResult runQemu(const QemuLaunch& launch, const QemuOptions& options) {
  QemuResult result;
  std::vector<std::string> args = qemuCommandLine(launch);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2], err[2];
  if (::pipe(out) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  if (::pipe(err) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // stdin is nothing: the UART has no one typing at it.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  pid_t pid = -1;
  int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    result.error = "can't run " + launch.executable + ": " + std::strerror(spawned);
    ::close(out[0]);
    ::close(err[0]);
    return result;
  }

  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000));
  std::string errors;
  bool timedOut = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    int ready = ::poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      if (i == 0) {
        std::string_view text(buffer, static_cast<std::size_t>(n));
        if (options.output) {
          options.output(text);
        } else {
          std::fwrite(text.data(), 1, text.size(), stdout);
          std::fflush(stdout);
        }
      } else {
        errors.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  if (timedOut) ::kill(pid, SIGKILL);
  for (auto& fd : fds)
    if (fd.fd >= 0) ::close(fd.fd);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    result.status = QemuResult::Status::TimedOut;
    char text[64];
    std::snprintf(text, sizeof text, "timeout after %g seconds", options.timeoutSeconds);
    result.error = text;
    return result;
  }
  if (WIFEXITED(status)) {
    int code = WEXITSTATUS(status);
    // QEMU's own failures (a bad option, a file it cannot load) come with a line of its own
    // on stderr; the kernel's exit through semihosting comes without.
    std::string failure = qemuErrors(errors, std::filesystem::path(launch.executable).filename().string());
    if (code != 0 && !failure.empty()) {
      result.status = QemuResult::Status::Failed;
      result.exitStatus = code;
      result.error = failure;
      return result;
    }
    result.status = QemuResult::Status::Exited;
    result.exitStatus = code;
    return result;
  }
  result.status = QemuResult::Status::Failed;
  result.error = WIFSIGNALED(status) ? "QEMU was killed by signal " + std::to_string(WTERMSIG(status)) : "QEMU ended";
  if (!errors.empty()) result.error += ": " + errors;
  return result;
}

}  // namespace kestrel::handoff
