// kestrel handoff verify|run: the hand-off image that a jump wrote (kestrel boot
// --save-handoff), checked with the reference walk or booted in an emulator.
#include <cstdio>
#include <iostream>

#include "cli/command.h"
#include "handoff/image.h"
#include "handoff/qemu_image.h"
#include "handoff/unicorn_runner.h"
#include "handoff/walk.h"

namespace kestrel::cli {

namespace {

constexpr int ExitTimeout = 3;  // the emulated machine was still running at the time limit

const char* familyName(handheld::Family family) { return family == handheld::Family::PXA2x0 ? "PXA-2x0" : "SA-11x0"; }

bool load(const std::string& file, handoff::HandoffImage& image) {
  std::string error;
  if (handoff::readImage(file, image, error)) return true;
  fail(ExitFailure, error);  // it names the file
  return false;
}

int runVerify(const std::string& file) {
  handoff::HandoffImage image;
  if (!load(file, image)) return ExitFailure;
  std::printf("image: %s, %s (%s), %zu frames\n", image.profile.c_str(), image.processor.c_str(),
              familyName(image.family), image.memory.frameCount());
  std::printf("jump: r0=0x%08x (arguments) r1=0x%08x (first link) r2=0x%08x (stack) r3=0x%08x (2nd bootloader)\n",
              image.r[0], image.r[1], image.r[2], image.r[3]);

  handoff::ChainCheck chain = handoff::checkChain(image);
  std::printf("chain: %u links, %u load (%llu bytes), %u zero-clear (%llu bytes)", chain.links, chain.loadLinks,
              static_cast<unsigned long long>(chain.loadBytes), chain.zeroLinks,
              static_cast<unsigned long long>(chain.zeroBytes));
  if (chain.links) std::printf(", destinations 0x%08x-0x%08x", chain.lowest, chain.highest);
  std::printf("\n");
  for (const std::string& e : chain.errors) std::printf("error: %s\n", e.c_str());
  for (const std::string& o : chain.overlaps) std::printf("overlap: %s\n", o.c_str());
  if (chain.overlapCount > chain.overlaps.size())
    std::printf("overlap: ... %u in all\n", chain.overlapCount);
  if (chain.overlapCount == 0 && chain.errors.empty()) std::printf("overlap: none\n");

  handoff::WalkResult walk;
  std::string error;
  if (!handoff::walkChain(image, walk, error)) {
    std::printf("walk: FAILED %s\n", error.c_str());
    return ExitFailure;
  }
  std::printf("walk: kernel entered at 0x%08x with r0=0x%08x r1=0x%08x r2=0x%08x sp=0x%08x\n", walk.entry, walk.r0,
              walk.r1, walk.r2, walk.sp);
  return chain.errors.empty() ? ExitOk : ExitFailure;
}

int runRun(const std::string& file, const std::string& runner, double timeout) {
  handoff::HandoffImage image;
  if (!load(file, image)) return ExitFailure;
  if (runner == "unicorn") {
    handoff::HandoffCheck check;
    std::string error;
    handoff::UnicornOptions unicorn;
    unicorn.timeoutSeconds = timeout;
    if (!handoff::checkInUnicorn(image, check, error, unicorn)) {
      return fail(check.run.timedOut ? ExitTimeout : ExitFailure, "unicorn: " + error);
    }
    std::printf("unicorn: %s entered the kernel at 0x%08x with r0=0x%08x r1=0x%08x r2=0x%08x sp=0x%08x, "
                "memory as the reference walk says\n",
                check.run.cpu.c_str(), check.run.pc, check.run.r0, check.run.r1, check.run.r2, check.run.sp);
    return ExitOk;
  }
  if (!handoff::qemuAvailable()) return fail(ExitFailure, "qemu-system-arm is not installed");
  handoff::ImageRun run;
  run.options.timeoutSeconds = timeout;
  std::fflush(stdout);
  handoff::QemuResult result = handoff::runImageInQemu(image, run);
  switch (result.status) {
    case handoff::QemuResult::Status::Exited:
      return result.exitStatus;
    case handoff::QemuResult::Status::TimedOut:
      return fail(ExitTimeout, "qemu: " + result.error);
    case handoff::QemuResult::Status::Failed:
      break;
  }
  return fail(ExitFailure, "qemu: " + result.error);
}

}  // namespace

void addHandoffCommand(CLI::App& root, CommandContext& context) {
  CLI::App* handoff = root.add_subcommand(
      "handoff", "Check or boot a hand-off image: the machine as the jump to the 2nd bootloader left it.");
  handoff->require_subcommand(1);

  static std::string verifyFile;
  CLI::App* verify = handoff->add_subcommand(
      "verify",
      "Walk the image's chain with the reference model of the 2nd bootloader and check it: every link and "
      "source inside the image's pages, and every destination that covers a page still to be read (reported). "
      "Exit status 0 when the chain can be walked.");
  verify->add_option("FILE", verifyFile, "the hand-off image")->required();
  verify->callback([&context] { context.status = runVerify(verifyFile); });

  static std::string runFile;
  static std::string runner = "qemu";
  static double timeout = 60;
  CLI::App* run = handoff->add_subcommand(
      "run",
      "Boot the image: in qemu-system-arm (collie for SA-11x0, tosa for PXA250/PXA255, akita for PXA270) with "
      "the board's UART on stdout and the kernel's semihosting exit status as the command's (3 at the time "
      "limit), or run the 2nd bootloader in unicorn and compare it with the reference walk.");
  run->add_option("FILE", runFile, "the hand-off image")->required();
  run->add_option("--run", runner, "qemu or unicorn")->check(CLI::IsMember({"qemu", "unicorn"}));
  run->add_option("--timeout", timeout, "seconds before QEMU or unicorn is stopped")->check(positiveSeconds());
  run->callback([&context] { context.status = runRun(runFile, runner, timeout); });
}

}  // namespace kestrel::cli
