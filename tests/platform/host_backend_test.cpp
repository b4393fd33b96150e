// The host build's message boxes: the printed block, the answers of each policy and the
// test hook.
#include <gtest/gtest.h>

#include <string>

#include "platform/message_box.h"

namespace {

using namespace ce;

struct Printed {
  int answer;
  std::string out;
};

Printed show(const char16_t* text, const char16_t* caption, UINT type) {
  ::testing::internal::CaptureStdout();
  int answer = MessageBoxW(nullptr, text, caption, type);
  return {answer, ::testing::internal::GetCapturedStdout()};
}

class MessageBoxes : public ::testing::Test {
 protected:
  void TearDown() override {
    setMessageBoxHook(nullptr);
    setMessageBoxPolicy(BoxPolicy::No);
  }
};

TEST_F(MessageBoxes, ArePrintedAsOneBlockAndAnsweredByThePolicy) {
  struct Case {
    BoxPolicy policy;
    const char16_t* text;
    const char16_t* caption;
    UINT type;
    int answer;
    std::string out;
  } cases[] = {
      {BoxPolicy::Yes, u"Can't open kernel image.", u"BOOT FAILED", MbOk | MbIconStop, IdOk,
       "[BOOT FAILED] Can't open kernel image.\n"},
      {BoxPolicy::No, u"Can't load coredll.dll.", u"WARNING", MbOk | MbIconExclamation, IdOk,
       "[WARNING] Can't load coredll.dll.\n"},
      {BoxPolicy::Yes, u"Last chance...\r\nBoot now?", u"WARNING", MbYesNo | MbIconQuestion, IdYes,
       "[WARNING] Last chance...\n          Boot now? [Yes/No] Yes\n"},
      {BoxPolicy::No, u"Boot?", u"WARNING", MbYesNo, IdNo, "[WARNING] Boot? [Yes/No] No\n"},
      {BoxPolicy::Yes, u"Go on?", u"Information", MbOkCancel, IdOk, "[Information] Go on? [OK/Cancel] OK\n"},
      {BoxPolicy::No, u"Go on?", u"Information", MbOkCancel, IdCancel, "[Information] Go on? [OK/Cancel] Cancel\n"},
  };
  for (const auto& c : cases) {
    setMessageBoxPolicy(c.policy);
    Printed p = show(c.text, c.caption, c.type);
    EXPECT_EQ(p.answer, c.answer) << c.out;
    EXPECT_EQ(p.out, c.out);
  }
  EXPECT_TRUE(UpdateWindow(nullptr));
}

TEST_F(MessageBoxes, AskWithoutATerminalAnswersNo) {
  // CTest runs without a controlling terminal; when there is one this case asks, so it is
  // skipped rather than left waiting.
  if (std::FILE* tty = std::fopen("/dev/tty", "r")) {
    std::fclose(tty);
    GTEST_SKIP() << "a terminal is attached";
  }
  setMessageBoxPolicy(BoxPolicy::Ask);
  Printed p = show(u"Boot?", u"WARNING", MbYesNo);
  EXPECT_EQ(p.answer, IdNo);
  EXPECT_EQ(p.out, "[WARNING] Boot? [Yes/No] No\n");
}

TEST_F(MessageBoxes, AHookAnswersInsteadAndNothingIsPrinted) {
  setMessageBoxPolicy(BoxPolicy::No);
  std::u16string seen;
  UINT seenType = 0;
  setMessageBoxHook([&](HWND, const WCHAR* text, const WCHAR* caption, UINT type) {
    seen = std::u16string(caption) + u": " + text;
    seenType = type;
    return IdYes;
  });
  Printed p = show(u"Last chance...", u"WARNING", MbYesNo | MbIconQuestion);
  EXPECT_EQ(p.answer, IdYes);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(seen, u"WARNING: Last chance...");
  EXPECT_EQ(seenType, MbYesNo | MbIconQuestion);
}

}  // namespace
