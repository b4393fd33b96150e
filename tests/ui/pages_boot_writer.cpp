// The first half of the pages' whole-program tests (pages_boot_e2e.sh runs it under Wine and
// does the second half on the host): boots from a running window whose three pages were set
// as a user sets them, and leaves in $KESTREL_E2E_OUT (a Windows path) what the host checks:
//
//   fields/handoff.img   the machine at the jump, for `kestrel handoff run`
//   bootlog/bootlog.txt  the boot log of a boot with "save to file" checked
//   bootlog/handheld/    the handheld of that boot as it was before it, for `kestrel boot`
//
// Here it checks that kestrel.cnf holds exactly the values the pages were given.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/bytes.h"
#include "platform/handheld/processor.h"
#include "tests/kernel/probe_image.h"
#include "tests/ui/window_fixture.h"
#include "ui/console_tab.h"
#include "ui/main_tab.h"
#include "ui/main_window.h"
#include "ui/option_tab.h"

namespace {

using kestrel_testing::WindowSession;
namespace fs = std::filesystem;
namespace ui = kestrel::ui;

fs::path outputDir(const char* sub) {
  const wchar_t* out = ::_wgetenv(L"KESTREL_E2E_OUT");
  if (!out || !*out) {
    ADD_FAILURE() << "KESTREL_E2E_OUT names no folder (pages_boot_e2e.sh sets it)";
    return {};
  }
  fs::path dir = fs::path(out) / sub;
  fs::create_directories(dir);
  return dir;
}

void setText(HWND dialog, int id, const wchar_t* text) { ::SetDlgItemTextW(dialog, id, text); }

// Checks or unchecks a box as a tap does, so the page hears of it.
void setBox(WindowSession& s, int page, int id, bool on) {
  HWND box = ::GetDlgItem(s.page(page), id);
  if ((::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != on) s.click(box);
}

std::uint32_t word(const std::string& file, std::size_t offset) {
  return ce::getLe32(reinterpret_cast<const std::uint8_t*>(file.data()) + offset);
}

// The UTF-16 text at `offset`, up to its terminator (at most `units` units).
std::u16string textAt(const std::string& file, std::size_t offset, std::size_t units) {
  std::u16string text;
  for (std::size_t k = 0; k < units; ++k) {
    char16_t c = ce::getLe16(reinterpret_cast<const std::uint8_t*>(file.data()) + offset + 2 * k);
    if (!c) return text;
    text += c;
  }
  return u"(no terminator)";
}

TEST(PagesBootWriter, EveryFieldOfTheThreePagesReachesKestrelCnfAndTheKernel) {
  const fs::path out = outputDir("fields");
  ASSERT_FALSE(out.empty());
  WindowSession s("Compaq iPAQ H3600");  // no kestrel.cnf: the pages start from the defaults
  s.handheld().writeFile(u"\\Storage Card\\mini.fs", kestrel::testing::makeProbeImage(64 * 1024, 0x5EED1234));
  handheld::processor().jump.saveTo = out / "handoff.img";
  fs::remove(out / "handoff.img");

  s.run([](WindowSession& s) {
    HWND main = s.page(ui::MainPage);
    ::SendDlgItemMessageW(main, ui::main_ids::Directory, CB_SETCURSEL, 4, 0);  // "\Storage Card\"
    setText(main, ui::main_ids::KernelFile, L"corvid");
    HWND platform = ::GetDlgItem(main, ui::main_ids::Platform);
    int h3660 = static_cast<int>(::SendMessageW(platform, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                reinterpret_cast<LPARAM>(L"Compaq iPAQ H3660")));
    ASSERT_GE(h3660, 0);
    ::SendMessageW(platform, CB_SETCURSEL, h3660, 0);
    s.click(::GetDlgItem(main, 103));  // md
    setText(main, ui::main_ids::FsImage, L"mini.fs");
    for (int id : {150, 151, 152, 153, 155}) setBox(s, ui::MainPage, id, true);
    ::SendDlgItemMessageW(main, ui::main_ids::SerialSpeed, CB_SETCURSEL, 2, 0);  // 115200

    s.clickTab(ui::OptionPage);
    HWND options = s.page(ui::OptionPage);
    setBox(s, ui::OptionPage, ui::option_ids::AutoBoot, true);
    setText(options, ui::option_ids::Seconds, L"7");
    setBox(s, ui::OptionPage, ui::option_ids::ReverseVideo, true);
    setBox(s, ui::OptionPage, ui::option_ids::LoadDebugInfo, true);
    // Safety message and pause before boot stay on: both questions are answered Yes.
    setText(options, ui::option_ids::ExtraOptions, L"-c  root=md0\tnoapm");

    s.clickTab(ui::ConsolePage);
    s.click(s.boot());
    ASSERT_GE(s.boxes.size(), 3u);
    EXPECT_EQ(s.boxes[0].caption, u"WARNING");
    EXPECT_EQ(s.boxes[s.boxes.size() - 2].caption, u"Last chance...");
    // The jump wrote its image and came back here, where nothing ends the program.
    EXPECT_EQ(s.boxes.back().text, u"Can't jump to the kernel.\n");
    // The boot showed its text in the Console tab.
    HWND pane = static_cast<ui::ConsoleTab*>(s.window().page(ui::ConsolePage))->pane();
    EXPECT_GT(::GetWindowTextLengthW(pane), 500);
    s.click(s.cancel());
  });
  ASSERT_TRUE(handheld::processor().lastJump);
  EXPECT_TRUE(handheld::processor().lastJump->written) << handheld::processor().lastJump->error;

  const std::string cnf = kestrel_testing::configFile(s);
  ASSERT_EQ(cnf.size(), 2152u);
  struct Word {
    std::size_t offset;
    std::uint32_t value;
  };
  const Word words[] = {
      {0, 0x177D5753}, {4, 258},   {8, 2152},   {16, 1},    {540, 1},    {1064, 0x0C108000}, {1068, 0x01C40202},
      {1072, 2},       {1596, 1},  {1600, 1},   {1604, 1},  {1608, 1},   {1612, 1},          {1616, 7},
      {1620, 1},       {1624, 1},  {1628, 1},   {1632, 1},  {1636, 115200},
  };
  for (const Word& w : words) EXPECT_EQ(word(cnf, w.offset), w.value) << "at " << w.offset;
  EXPECT_EQ(textAt(cnf, 20, 260), u"\\Storage Card\\");
  EXPECT_EQ(textAt(cnf, 544, 260), u"corvid");
  EXPECT_EQ(textAt(cnf, 1076, 260), u"mini.fs");
  EXPECT_EQ(textAt(cnf, 1640, 256), u"-c  root=md0\tnoapm");
}

TEST(PagesBootWriter, SaveToFileLogsTheBootInBootlogTxt) {
  const fs::path out = outputDir("bootlog");
  ASSERT_FALSE(out.empty());
  // No questions: the log is the console's text alone.
  WindowSession s("Compaq iPAQ H3900", [](kestrel::Settings&) {});
  // The handheld as the boot finds it, for the host's kestrel boot to boot it again.
  fs::remove_all(out / "handheld");
  fs::copy(s.handheld().dir(), out / "handheld", fs::copy_options::recursive);
  fs::remove(out / "bootlog.txt");

  s.run([](WindowSession& s) {
    s.clickTab(ui::ConsolePage);
    setBox(s, ui::ConsolePage, ui::console_ids::SaveToFile, true);
    s.click(s.boot());
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].text, u"Can't jump to the kernel.\n");
    // All of it went to the file; the pane only says where.
    HWND pane = static_cast<ui::ConsoleTab*>(s.window().page(ui::ConsolePage))->pane();
    wchar_t shown[128] = {};
    ::GetWindowTextW(pane, shown, 128);
    EXPECT_STREQ(shown, L"log file is \\Storage Card\\bootlog.txt\r\n");
    s.click(s.cancel());
  });
  const std::string log = s.handheld().readFile(u"\\Storage Card\\bootlog.txt");
  EXPECT_EQ(log.rfind("BOOT START\n", 0), 0u);
  std::FILE* f = ::_wfopen((out / "bootlog.txt").c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(log.data(), 1, log.size(), f);
  std::fclose(f);
}

}  // namespace
