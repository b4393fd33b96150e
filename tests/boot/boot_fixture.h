// What the boot tests share: a fresh handheld, a front end that records what the boot shows
// (console text, progress, message boxes) and answers the boxes, the probe kernel on the card
// with settings that boot it, and the process-wide objects (settings, boot object, console,
// the COM1 handle) released again at the end.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/front_end.h"
#include "boot/settings.h"
#include "console/console.h"
#include "console/serial_console.h"
#include "platform/message_box.h"
#include "tests/kernel/probe_paths.h"
#include "tests/support/handheld_fixture.h"
#include "tests/support/host_files.h"

namespace kestrel::testing {

inline std::u16string widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }
inline std::string narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

struct Box {
  std::u16string text;
  std::u16string caption;
  unsigned style;
};

// The main window and Console tab of a test: every text and box is kept in order.
class RecordingFrontEnd final : public BootWindow, public ConsolePane {
 public:
  RecordingFrontEnd() {
    ce::setMessageBoxHook([this](ce::HWND owner, const char16_t* text, const char16_t* caption, ce::UINT style) {
      boxes.push_back({text ? text : u"", caption ? caption : u"", style});
      owners.push_back(owner);
      if (!answers.empty()) {
        int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
      }
      return (style & 0x0F) == ce::MbYesNo ? ce::IdYes : ce::IdOk;
    });
  }
  ~RecordingFrontEnd() { ce::setMessageBoxHook(nullptr); }

  void stepProgress(const char* label) override {
    if (label) currentConsole()->print(u"[progress] %S\n", label);
    ++progress;
    if (label && onStep) onStep(label);
  }
  void resetProgress() override { progress = 0; }
  ce::HWND window() const override { return reinterpret_cast<ce::HWND>(0x5150); }
  ce::HINSTANCE instance() const override { return nullptr; }
  void print(const char16_t* text, bool) override { console += text; }

  // The boxes with this caption.
  std::vector<Box> boxesCaptioned(std::u16string_view caption) const {
    std::vector<Box> out;
    for (const Box& b : boxes) {
      if (b.caption == caption) out.push_back(b);
    }
    return out;
  }

  std::u16string console;
  int progress = 0;
  std::vector<Box> boxes;
  std::vector<ce::HWND> owners;
  std::vector<int> answers;  // answers for the next boxes; Yes / OK once they run out
  std::function<void(const char* label)> onStep;  // runs after each step's line
};

// A handheld, its settings and a recording front end registered with them.
class BootTest : public ::testing::Test {
 protected:
  explicit BootTest(kestrel_testing::HandheldOptions options = {}) : handheld_(std::move(options)) {}

  void SetUp() override { attachFrontEnd(); }
  void TearDown() override {
    releaseBootObject();
    releaseConsole();
    releaseSettings();
    // The port handle is process-wide and belongs to this test's machine: the next test's
    // handheld starts without one, as a fresh run of the program does.
    forgetComPort();
  }

  // (Re)creates the settings from the card and registers the front end with them.
  void attachFrontEnd() {
    Settings& s = settings();
    s.mainWindow = &front_;
    s.consoleTab = &front_;
  }

  // The probe kernel as \Storage Card\corvid, and settings that boot it on the iPAQ H3600
  // without a question: the card's folder and the file as typed in, no pause, no warning.
  void prepareProbeBoot() {
    handheld_.writeFile(u"\\Storage Card\\corvid", kestrel_testing::readBytes(probeKernelSa11x0));
    Settings& s = settings();
    setText(s.kernelDirectory, u"\\Storage Card\\");
    s.kernelDirectorySet = 1;
    setText(s.kernelFile, u"corvid");
    s.kernelFileSet = 1;
    s.platform = {0x0C108000, 0x01C40201};
    s.pauseBeforeBoot = 0;
    s.safetyMessage = 0;
  }

  kestrel_testing::TempHandheld handheld_;
  RecordingFrontEnd front_;
};

}  // namespace kestrel::testing
