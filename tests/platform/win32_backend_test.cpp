// The win32 backend under Wine: conversions in the handheld's code page through the system's
// tables, and message boxes answered without anybody at the screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/handheld/machine.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "resources/strings.h"
#include "tests/support/handheld_fixture.h"

namespace {

constexpr const char* Japanese = "Sharp W-ZERO3 (WS003SH)";  // its profile says 932
constexpr const char* Western = "Compaq iPAQ H3600";        // 1252

std::unique_ptr<kestrel_testing::TempHandheld> handheldOf(const char* platform, const std::string& extraIni = "") {
  kestrel_testing::HandheldOptions options;
  options.platform = platform;
  options.extraIni = extraIni;
  return std::make_unique<kestrel_testing::TempHandheld>(options);
}

std::string toBytes(unsigned codePage, const std::u16string& text) {
  int need = ce::WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(need > 0 ? need : 1), '\x7F');
  int n = ce::WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), need, nullptr, nullptr);
  EXPECT_EQ(n, need);
  if (n <= 0) return "<failed>";
  EXPECT_EQ(out[static_cast<std::size_t>(n - 1)], '\0');
  return out.substr(0, static_cast<std::size_t>(n - 1));
}

std::u16string toWide(unsigned codePage, const std::string& bytes) {
  int need = ce::MultiByteToWideChar(codePage, 0, bytes.c_str(), -1, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(need > 0 ? need : 1), u'\xFFFF');
  int n = ce::MultiByteToWideChar(codePage, 0, bytes.c_str(), -1, out.data(), need);
  EXPECT_EQ(n, need);
  if (n <= 0) return u"<failed>";
  return out.substr(0, static_cast<std::size_t>(n - 1));
}

TEST(Win32CodePages, DirectoryTextsInTheHandheldsCodePage) {
  struct Case {
    const char* platform;
    std::string extraIni;
    unsigned codePage;
    std::u16string text;
    std::string bytes;
  };
  using kestrel::resources::findString;
  // Shift-JIS: half-width katakana take one byte each (0xA1..0xDF), full-width ones two.
  const Case cases[] = {
      {Japanese, "", 932, findString(10018), "\\\xD2\xD3\xD8 \xB6\xB0\xC4\xDE\\"},
      {Japanese, "", 932, findString(10022), "\\\xD2\xD3\xD8 \xB6\xB0\xC4\xDE" "2\\"},
      {Japanese, "", 932, findString(10026), "\\miniSD\xB6\xB0\xC4\xDE\\"},
      {Japanese, "", 932, findString(10028), "\\microSD\x83\x4A\x81\x5B\x83\x68\\"},
      {Japanese, "", 932, findString(10012), "\\Storage Card\\"},
      // handheld.ini's code_page overrides the profile's.
      {Western, "code_page = 932\n", 932, findString(10028), "\\microSD\x83\x4A\x81\x5B\x83\x68\\"},
      // 1252 is not Latin-1: the euro sign sits at 0x80.
      {Western, "", 1252, u"\u20AC 5 Caf\u00E9 \u00E0 la carte", "\x80 5 Caf\xE9 \xE0 la carte"},
  };
  for (const Case& c : cases) {
    auto handheld = handheldOf(c.platform, c.extraIni);
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ce::GetACP(), c.codePage);
    EXPECT_EQ(toBytes(ce::CpAcp, c.text), c.bytes);
    EXPECT_EQ(toWide(ce::CpAcp, c.bytes), c.text);
  }
}

TEST(Win32CodePages, DefaultCodePageFollowsTheHandheldNotTheHost) {
  const std::u16string me = u"\uFF92";  // half-width katakana "me"
  {
    auto handheld = handheldOf(Japanese);
    EXPECT_EQ(toBytes(ce::CpAcp, me), "\xD2");
  }
  auto handheld = handheldOf(Western);
  BOOL usedDefault = ce::False;
  char out[4] = {};
  EXPECT_EQ(ce::WideCharToMultiByte(ce::CpAcp, 0, me.c_str(), -1, out, 4, nullptr, &usedDefault), 2);
  EXPECT_STREQ(out, "?");
  EXPECT_TRUE(usedDefault);
  // An explicit code page is taken as given.
  EXPECT_EQ(toBytes(932, me), "\xD2");
}

TEST(Win32CodePages, FailuresCarryTheSystemsError) {
  auto handheld = handheldOf(Japanese);
  const std::u16string text = kestrel::resources::findString(10028);
  char bytes[4];
  ce::SetLastError(ce::ErrorSuccess);
  EXPECT_EQ(ce::WideCharToMultiByte(ce::CpAcp, 0, text.c_str(), -1, bytes, 4, nullptr, nullptr), 0);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorInsufficientBuffer);
  ce::WCHAR wide[16];
  ce::SetLastError(ce::ErrorSuccess);
  EXPECT_EQ(ce::MultiByteToWideChar(ce::CpAcp, 0, "\\microSD", -1, wide, 2), 0);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorInsufficientBuffer);
  // A lead byte with no trail byte is no character.
  ce::SetLastError(ce::ErrorSuccess);
  EXPECT_EQ(ce::MultiByteToWideChar(ce::CpAcp, MB_ERR_INVALID_CHARS, "\x83", 1, wide, 16), 0);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorNoUnicodeTranslation);
}

// Watches for a message box captioned `caption` and clicks `button` on it; after a while it
// clicks any window of the process, so that a box nobody expected cannot hang the test.
class BoxWatch {
 public:
  BoxWatch(const wchar_t* caption, int button) : caption_(caption), button_(button), thread_([this] { run(); }) {}
  ~BoxWatch() {
    stop_ = true;
    thread_.join();
  }
  bool sawBox() const { return seen_; }

 private:
  void run() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!stop_) {
      if (HWND box = ::FindWindowW(L"#32770", caption_)) {
        seen_ = true;
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), 0);
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        ::EnumWindows(
            [](HWND w, LPARAM) -> BOOL {
              DWORD pid = 0;
              ::GetWindowThreadProcessId(w, &pid);
              if (pid == ::GetCurrentProcessId()) ::PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
              return TRUE;
            },
            0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  const wchar_t* caption_;
  int button_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::thread thread_;
};

// Defined first so that it runs before any test chooses a policy: without a choice the
// environment decides.
TEST(Win32MessageBox, EnvironmentDecidesWithoutAChoice) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KESTREL_MESSAGE_BOX", L"yes"));
  int answer;
  {
    BoxWatch watch(L"kestrel env", IDNO);
    answer = ce::MessageBoxW(nullptr, u"Boot now?", u"kestrel env", ce::MbYesNo);
    EXPECT_FALSE(watch.sawBox());
  }
  EXPECT_EQ(answer, ce::IdYes);
}

TEST(Win32MessageBox, PolicyAnswersWithoutShowingABox) {
  struct Case {
    ce::BoxPolicy policy;
    ce::UINT type;
    int answer;
  };
  const Case cases[] = {
      {ce::BoxPolicy::Yes, ce::MbYesNo | ce::MbIconQuestion, ce::IdYes},
      {ce::BoxPolicy::No, ce::MbYesNo | ce::MbIconQuestion, ce::IdNo},
      {ce::BoxPolicy::Yes, ce::MbOkCancel, ce::IdOk},
      {ce::BoxPolicy::No, ce::MbOkCancel, ce::IdCancel},
      {ce::BoxPolicy::No, ce::MbOk | ce::MbIconStop, ce::IdOk},
  };
  for (const Case& c : cases) {
    ce::setMessageBoxPolicy(c.policy);
    BoxWatch watch(L"kestrel policy", IDRETRY);
    EXPECT_EQ(ce::MessageBoxW(nullptr, u"BOOT FAILED", u"kestrel policy", c.type), c.answer) << c.type;
    EXPECT_FALSE(watch.sawBox()) << c.type;
  }
}

TEST(Win32MessageBox, HookAnswersInsteadOfTheBox) {
  ce::setMessageBoxPolicy(ce::BoxPolicy::Show);
  std::u16string text, caption;
  ce::UINT type = 0;
  ce::setMessageBoxHook([&](ce::HWND, const ce::WCHAR* t, const ce::WCHAR* c, ce::UINT ty) {
    text = t;
    caption = c;
    type = ty;
    return ce::IdNo;
  });
  {
    BoxWatch watch(L"WARNING", IDYES);
    EXPECT_EQ(ce::MessageBoxW(nullptr, u"Last chance...", u"WARNING", ce::MbYesNo | ce::MbIconExclamation), ce::IdNo);
    EXPECT_FALSE(watch.sawBox());
  }
  ce::setMessageBoxHook(nullptr);
  EXPECT_EQ(text, u"Last chance...");
  EXPECT_EQ(caption, u"WARNING");
  EXPECT_EQ(type, ce::MbYesNo | ce::MbIconExclamation);
}

TEST(Win32MessageBox, ShowPolicyShowsTheSystemsBox) {
  ce::setMessageBoxPolicy(ce::BoxPolicy::Show);
  int answer;
  {
    BoxWatch watch(L"kestrel real box", IDYES);
    answer = ce::MessageBoxW(nullptr, u"Boot now?", u"kestrel real box", ce::MbYesNo);
    EXPECT_TRUE(watch.sawBox());
  }
  EXPECT_EQ(answer, ce::IdYes);
  ce::setMessageBoxPolicy(ce::BoxPolicy::No);
}

}  // namespace
