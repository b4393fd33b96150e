// kestrel boot: what pressing Boot does, on the simulated handheld. The program starts as it
// does on the device (settings from the card's kestrel.cnf, the console, the boot object),
// the options are applied as if typed into the Main and Option tabs, kestrel.cnf is saved and
// the boot sequence runs. The console goes to stdout; after the jump the captured machine is
// booted in QEMU (the kernel's serial output follows on the handheld's serial line), its
// second stage run in unicorn, or the command stops at the jump.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/boot_sequence.h"
#include "boot/front_end.h"
#include "boot/platform_table.h"
#include "boot/settings.h"
#include "boot/temporary_directory.h"
#include "cli/command.h"
#include "console/console.h"
#include "handoff/image.h"
#include "handoff/qemu_image.h"
#include "handoff/qemu_runner.h"
#include "handoff/unicorn_runner.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/processor.h"
#include "platform/handheld/serial.h"
#include "platform/message_box.h"

namespace kestrel::cli {

namespace {

constexpr int ExitBootFailed = 2;  // a "BOOT FAILED" box ended the boot
constexpr int ExitTimeLimit = 3;   // the emulated machine was still running at --timeout

struct BootOptions {
  std::string handheld;
  std::optional<std::string> platform, dir, kernel, root, image, extra;
  std::optional<std::uint32_t> speed;
  bool serialConsole = false, bootVerbose = false, singleUser = false, askName = false, kernelDebugger = false;
  bool reverseVideo = false;
  bool noSetAside = false;
  std::vector<std::string> assignments;
  bool yes = false, no = false;
  std::string run;
  std::string saveHandoff;
  double timeout = 60;
};

// The options, checked and turned into the record's values before anything starts.
struct Changes {
  std::optional<PlatformId> platform;
  std::optional<std::u16string> dir, kernel, image, extra;
  std::optional<std::int32_t> root;
};

bool text(const std::optional<std::string>& option, std::size_t units, const char* what,
          std::optional<std::u16string>& out, std::string& error) {
  if (!option) return true;
  std::optional<std::u16string> wide = utf8ToUtf16(*option);
  if (!wide) {
    error = std::string(what) + " is not UTF-8";
    return false;
  }
  if (wide->size() > units - 1) {
    error = std::string(what) + " is longer than " + std::to_string(units - 1) + " UTF-16 units";
    return false;
  }
  out = std::move(*wide);
  return true;
}

bool check(const BootOptions& o, Changes& c, std::string& error) {
  if (o.platform) {
    for (int i = 0; platformName(i); ++i) {
      if (utf16ToUtf8(platformName(i)) == *o.platform) {
        PlatformId id;
        selectPlatform(i, id);
        c.platform = id;
      }
    }
    if (!c.platform) {
      error = "unknown platform '" + *o.platform + "' (kestrel platforms lists them)";
      return false;
    }
  }
  if (o.root) {
    if (std::optional<RootDevice> named = rootDeviceNamed(*o.root)) c.root = static_cast<std::int32_t>(*named);
    if (!c.root) {
      error = "--root must be one of wd, sd, md, nfs, dk, ld";
      return false;
    }
  }
  if (!text(o.dir, SettingsRecord::PathUnits, "--dir", c.dir, error) ||
      !text(o.kernel, SettingsRecord::PathUnits, "--kernel", c.kernel, error) ||
      !text(o.image, SettingsRecord::PathUnits, "--image", c.image, error) ||
      !text(o.extra, SettingsRecord::OptionUnits, "--extra", c.extra, error)) {
    return false;
  }
  SettingsRecord scratch;
  for (const std::string& item : o.assignments) {
    if (!assignSettingsField(scratch, item, error)) return false;
  }
  return true;
}

// The hand-off image this run wrote for its runner only; removed when the program ends.
std::filesystem::path temporaryImage;

// Ends the program where a real handheld would have left Windows CE for good: nothing of the
// program runs after the jump, so nothing is torn down.
[[noreturn]] void leave(int status) {
  if (!temporaryImage.empty()) {
    std::error_code ec;
    std::filesystem::remove(temporaryImage, ec);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

// Whether `id` is exactly the words of an entry of the platform table.
bool inPlatformTable(const PlatformId& id) {
  for (std::size_t i = 0; i < platformTableCount; ++i) {
    if (platformTable[i].id == id) return true;
  }
  return false;
}

void writeOut(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

// The board's UART is the one the loader's serial console drove, so the kernel's output
// joins the handheld's serial line: its COM1 sink (stdout or a file) then holds one log, the
// banner, the loader's lines and the kernel's. A handheld without COM1 has no line to join;
// the output goes to stdout.
void toSerialLine(std::string_view bytes) {
  if (handheld::serialPortPresent()) {
    handheld::serialTransmit(bytes);
  } else {
    writeOut(bytes);
  }
}

// The command line's stand-in for the main window and its three tabs: the tabs hold the
// options, the Console tab is stdout, progress is counted.
class CommandLineFrontEnd final : public ProgramShell, public BootWindow, public ConsolePane {
 public:
  CommandLineFrontEnd(const BootOptions& options, const Changes& changes)
      : options_(options), changes_(changes), mainTab_(*this, &CommandLineFrontEnd::saveMainTab),
        optionTab_(*this, &CommandLineFrontEnd::saveOptionTab) {}

  // ProgramShell
  bool createApplication() override { return true; }
  bool createMainWindowObject() override {
    Settings& s = settings();
    s.mainWindow = this;
    s.mainTab = &mainTab_;
    s.optionTab = &optionTab_;
    s.consoleTab = this;
    return true;
  }
  bool registerWindowClass() override { return true; }
  bool createWindow() override { return true; }
  int messageLoop() override {
    handheld::processor().jump = jumpSettings();
    if (options_.noSetAside) bootObject()->setSetAsideEnabled(false);
    // The one message this program handles: the Boot button. A boot that works does not
    // come back (see leave).
    pressBoot();
    if (lastBootFailure()) {
      // A jump that came back because its image could not be kept: the box says only that the
      // jump failed; this says which file and why.
      const std::optional<handheld::JumpCapture>& jump = handheld::processor().lastJump;
      if (jump && !jump->written && !jump->error.empty()) {
        std::fprintf(stderr, "kestrel: the hand-off image was not written: %s\n", jump->error.c_str());
      }
      return ExitBootFailed;
    }
    std::fprintf(stderr, "kestrel: the boot was not started\n");
    return ExitFailure;
  }
  void destroyMainWindowObject() override {
    Settings& s = settings();
    s.mainWindow = nullptr;
    s.mainTab = s.optionTab = nullptr;
    s.consoleTab = nullptr;
  }
  void destroyApplication() override {}

  // BootWindow
  void stepProgress(const char* label) override {
    if (label) currentConsole()->print(u"[progress] %S\n", label);
    ++progress_;
  }
  void resetProgress() override { progress_ = 0; }
  ce::HWND window() const override { return const_cast<CommandLineFrontEnd*>(this); }
  ce::HINSTANCE instance() const override { return nullptr; }

  // ConsolePane
  void print(const char16_t* text, bool) override { writeOut(utf16ToUtf8(text)); }

 private:
  class Tab final : public SettingsPage {
   public:
    Tab(CommandLineFrontEnd& owner, void (CommandLineFrontEnd::*save)()) : owner_(owner), save_(save) {}
    void saveToSettings() override { (owner_.*save_)(); }

   private:
    CommandLineFrontEnd& owner_;
    void (CommandLineFrontEnd::*save_)();
  };

  void saveMainTab() {
    Settings& s = settings();
    if (changes_.platform) {
      s.platform = *changes_.platform;
    } else if (!inPlatformTable(s.platform)) {
      // A fresh handheld's kestrel.cnf names no platform: boot as what the handheld is, and
      // say so, rather than fail at "Architecture not supported.".
      const handheld::Profile& own = handheld::current().config().profile;
      s.platform = {own.cpu, own.machine};
      writeOut("kestrel: kestrel.cnf names no platform of the table; booting as the handheld's own, " + own.name +
               ".\n");
    }
    // The text typed in; for a record that holds none, the file name the Main tab shows
    // ("corvid.gz") and, where the tab would start at the top of its list, the first storage
    // card: where `kestrel handheld init` leaves the card and kestrel.cnf lives, so that a
    // fresh handheld boots the kernel put on its card.
    if (changes_.dir) {
      setText(s.kernelDirectory, *changes_.dir);
      s.kernelDirectorySet = 1;
    } else if (!s.kernelDirectorySet) {
      char16_t card[TemporaryDirectoryUnits];
      if (findTemporaryDirectory(card)) {
        setText(s.kernelDirectory, u"\\" + std::u16string(card) + u"\\");
        s.kernelDirectorySet = 1;
      }
    }
    if (changes_.kernel) {
      setText(s.kernelFile, *changes_.kernel);
      s.kernelFileSet = 1;
    } else if (!s.kernelFileSet) {
      setText(s.kernelFile, std::u16string(u"corvid.gz"));
      s.kernelFileSet = 1;
    }
    if (changes_.root) s.rootDevice = *changes_.root;
    if (changes_.image) setText(s.fsImagePath, *changes_.image);
    if (options_.serialConsole) s.serialConsole = 1;
    if (options_.speed) s.serialSpeed = *options_.speed;
    if (options_.bootVerbose) s.bootVerbose = 1;
    if (options_.singleUser) s.singleUser = 1;
    if (options_.askName) s.askName = 1;
    if (options_.kernelDebugger) s.kernelDebugger = 1;
  }

  void saveOptionTab() {
    Settings& s = settings();
    if (changes_.extra) setText(s.extraOptions, *changes_.extra);
    if (options_.reverseVideo) s.reverseVideo = 1;
    // --set last: it may name any field, also one of the options above.
    std::string error;
    for (const std::string& item : options_.assignments) assignSettingsField(s, item, error);
  }

  handheld::JumpSettings jumpSettings() const {
    handheld::JumpSettings jump;
    jump.saveTo = options_.saveHandoff;
    if (jump.saveTo.empty() && options_.run != "none") {
      // A file of this run's own: several boots may run side by side.
      std::error_code ec;
      std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
      if (ec) dir = ".";
      jump.saveTo = dir / ("kestrel-jump-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}()) +
                           ".img");
      temporaryImage = jump.saveTo;
    }
    const double timeout = options_.timeout;
    if (options_.run == "none") {
      jump.run = [](const std::filesystem::path&) {
        std::fprintf(stdout, "kestrel: stopped at the jump.\n");
        leave(ExitOk);
      };
    } else if (options_.run == "unicorn") {
      jump.run = [timeout](const std::filesystem::path& file) {
        handoff::HandoffImage image;
        std::string error;
        if (!handoff::readImage(file, image, error)) leave(fail(ExitFailure, "hand-off image: " + error));
        // The hand-off first, checked against the reference walk; then the kernel itself, with
        // the board's console UART and semihosting served (what the probe kernel uses).
        handoff::HandoffCheck check;
        handoff::UnicornOptions unicorn;
        unicorn.runKernel = true;
        unicorn.timeoutSeconds = timeout;
        if (!handoff::checkInUnicorn(image, check, error, unicorn)) {
          leave(fail(check.run.timedOut ? ExitTimeLimit : ExitFailure, "second stage: " + error));
        }
        std::fprintf(stdout, "kestrel: second stage entered the kernel at 0x%08x with r0=0x%08x r1=0x%08x r2=0x%08x "
                     "sp=0x%08x, memory as the reference walk says (%u links).\n",
                     check.walk.entry, check.walk.r0, check.walk.r1, check.walk.r2, check.walk.sp,
                     static_cast<unsigned>(check.walk.links.size()));
        std::fflush(stdout);
        const handoff::KernelRun& kernel = check.run.kernel;
        toSerialLine(kernel.output);
        if (kernel.exited) leave(kernel.status);
        if (kernel.timedOut) leave(fail(ExitTimeLimit, "unicorn: the kernel was still running after " +
                                                           std::to_string(static_cast<long>(timeout)) + " seconds"));
        // A kernel that does not exit through semihosting ends here; the hand-off was right.
        std::fprintf(stdout, "kestrel: the kernel ran in unicorn until %s.\n", kernel.error.c_str());
        leave(ExitOk);
      };
    } else {
      jump.run = [timeout](const std::filesystem::path& file) {
        handoff::HandoffImage image;
        std::string error;
        if (!handoff::readImage(file, image, error)) leave(fail(ExitFailure, "hand-off image: " + error));
        handoff::ImageRun run;
        run.options.timeoutSeconds = timeout;
        run.options.output = toSerialLine;
        handoff::QemuResult result = handoff::runImageInQemu(image, run);
        switch (result.status) {
          case handoff::QemuResult::Status::Exited: leave(result.exitStatus);
          case handoff::QemuResult::Status::TimedOut:
            leave(fail(ExitTimeLimit, "the emulated machine was still running after " +
                                          std::to_string(static_cast<long>(timeout)) + " seconds"));
          case handoff::QemuResult::Status::Failed: leave(fail(ExitFailure, "qemu: " + result.error));
        }
        leave(ExitFailure);
      };
    }
    return jump;
  }

  const BootOptions& options_;
  const Changes& changes_;
  Tab mainTab_, optionTab_;
  int progress_ = 0;
};

int runBoot(BootOptions& options) {
  Changes changes;
  std::string error;
  if (!check(options, changes, error)) return fail(ExitUsage, error);
  if (options.run.empty()) options.run = handoff::qemuAvailable() ? "qemu" : "unicorn";
  if (!openHandheld(handheldDirectory(options.handheld))) return ExitFailure;
  ce::setMessageBoxPolicy(options.yes ? ce::BoxPolicy::Yes : options.no ? ce::BoxPolicy::No : ce::BoxPolicy::Ask);
  CommandLineFrontEnd frontEnd(options, changes);
  return runProgram(frontEnd);
}

}  // namespace

void addBootCommand(CLI::App& root, CommandContext& context) {
  auto options = std::make_shared<BootOptions>();
  CLI::App* command = root.add_subcommand("boot", "Boot the kernel as the Boot button does: load kestrel.cnf from the "
                                                  "card, apply the options as if typed into the tabs, save, boot.");
  addHandheldOption(*command, options->handheld);
  command->add_option("--platform", options->platform, "platform by name (kestrel platforms)");
  command->add_option("--dir", options->dir, "kernel directory, URL or UFS device path");
  command->add_option("--kernel", options->kernel, "kernel file name");
  command->add_option("--root", options->root, "root device: wd, sd, md, nfs, dk or ld");
  command->add_option("--image", options->image, "file-system image for root device md");
  command->add_flag("--serial-console", options->serialConsole, "serial console for loader and kernel");
  command->add_option("--speed", options->speed, "serial speed in bit/s");
  command->add_flag("--boot-verbose", options->bootVerbose, "boot verbosely");
  command->add_flag("--single-user", options->singleUser, "boot to single user");
  command->add_flag("--ask-name", options->askName, "ask for the file name to boot from");
  command->add_flag("--kernel-debugger", options->kernelDebugger, "break into the kernel debugger");
  command->add_option("--extra", options->extra, "extra kernel options, separated by blanks");
  command->add_flag("--reverse-video", options->reverseVideo, "reverse video");
  command->add_option("--set", options->assignments, "FIELD=VALUE for any field of kestrel.cnf (kestrel config show)");
  CLI::Option* yes = command->add_flag("--yes", options->yes, "answer Yes to every question");
  command->add_flag("--no", options->no, "answer No to every question")->excludes(yes);
  command->add_option("--run", options->run,
                      "after the jump: qemu (boot the machine), unicorn (check the second stage against the reference walk, "
                      "then run the kernel with its console UART and semihosting) or none (stop)")
      ->check(CLI::IsMember({"qemu", "unicorn", "none"}));
  command->add_option("--save-handoff", options->saveHandoff, "write the machine at the jump to FILE");
  command->add_flag("--no-set-aside", options->noSetAside,
                    "let chain pages lie where the kernel will be copied to (shows why the loader keeps them out; "
                    "the kernel is overwritten before it is read)");
  command->add_option("--timeout", options->timeout,
                      "seconds the emulated machine may run, in QEMU or in unicorn (default 60)")
      ->check(positiveSeconds());
  command->callback([options, &context] { context.status = runBoot(*options); });
}

}  // namespace kestrel::cli
