#include "boot/settings.h"
#include "boot/settings_schema.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boot/temporary_directory.h"
#include "console/console.h"
#include "platform/bytes.h"
#include "platform/resources.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t RecordBytes = SettingsRecord::Size;

Bytes serialized(const SettingsRecord& record) {
  std::uint8_t bytes[RecordBytes];
  record.serialize(bytes);
  return Bytes(bytes, bytes + RecordBytes);
}

Bytes defaultBytes() {
  SettingsRecord record;
  record.setDefaults();
  return serialized(record);
}

// A record in which no two neighbouring bytes are alike and no text is terminated (the
// numbers with a range hold values inside it), with the header given: whatever is read from it shows where it came from.
Bytes patternFile(std::size_t size, std::uint32_t magic, std::uint32_t version, std::uint32_t recordSize) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3) | 0x01;
  if (size >= 4) ce::putLe32(bytes.data(), magic);
  if (size >= 8) ce::putLe32(bytes.data() + 4, version);
  if (size >= 12) ce::putLe32(bytes.data() + 8, recordSize);
  // Values these fields may hold (the pattern's would take the defaults; see ValuesOutOfRange).
  if (size >= 1076) ce::putLe32(bytes.data() + 1072, 4);        // rootDevice "dk"
  if (size >= 1620) ce::putLe32(bytes.data() + 1616, 1234567);  // autoBootSeconds
  return bytes;
}

// What the record holds after loading a file that supplied its first `supplied` bytes: those
// bytes, the defaults after them, and version 258 / recordSize 2152 whatever the file said.
Bytes expectedAfterLoad(const Bytes& file, std::size_t supplied) {
  Bytes expected = defaultBytes();
  std::memcpy(expected.data(), file.data(), supplied);
  ce::putLe32(expected.data() + 4, 258);
  ce::putLe32(expected.data() + 8, 2152);
  return expected;
}

const char16_t* const cnf = u"\\Storage Card\\kestrel.cnf";
const char16_t* const tmp = u"\\Storage Card\\kestrel.tmp";

Bytes readBytes(const kestrel_testing::TempHandheld& handheld, std::u16string_view path) {
  const std::string text = handheld.readFile(path);
  return Bytes(text.begin(), text.end());
}

TEST(SettingsRecordLayout, EveryFieldSitsAtItsOffsetInLittleEndian) {
  SettingsRecord r;
  r.magic = 0x177D5753;
  r.version = 0x01020304;
  r.recordSize = 0x05060708;
  r.kernelDirectorySet = 0x11;
  setText(r.kernelDirectory, u"\\Storage Card\\");
  r.kernelFileSet = 0x12;
  setText(r.kernelFile, u"corvid.gz");
  r.platform = {0x0C108000, 0x01C40201};
  r.rootDevice = -2;
  setText(r.fsImagePath, u"miniroot.fs");
  r.serialConsole = 0x21, r.bootVerbose = 0x22, r.singleUser = 0x23, r.askName = 0x24, r.kernelDebugger = 0x25;
  r.autoBootSeconds = 10, r.reverseVideo = 0x26, r.pauseBeforeBoot = 0x27, r.loadDebugInfo = 0x28;
  r.safetyMessage = 0x29, r.serialSpeed = 115200;
  r.kernelDirectory[259] = u'\u20ac';  // past the terminator: kept all the same
  r.extraOptions[255] = u'Z';
  const Bytes b = serialized(r);
  ASSERT_EQ(b.size(), 2152u);

  const struct {
    std::size_t offset;
    std::uint32_t value;
  } words[] = {{0, 0x177D5753}, {4, 0x01020304}, {8, 0x05060708}, {12, 0},     {16, 0x11},
               {540, 0x12},     {1064, 0x0C108000}, {1068, 0x01C40201}, {1072, 0xFFFFFFFE}, {1596, 0x21},
               {1600, 0x22},    {1604, 0x23},   {1608, 0x24},   {1612, 0x25}, {1616, 10},
               {1620, 0x26},    {1624, 0x27},   {1628, 0x28},   {1632, 0x29}, {1636, 115200}};
  for (const auto& w : words) EXPECT_EQ(ce::getLe32(b.data() + w.offset), w.value) << "offset " << w.offset;

  auto unitAt = [&](std::size_t offset) { return ce::getLe16(b.data() + offset); };
  EXPECT_EQ(unitAt(20), u'\\');
  EXPECT_EQ(unitAt(22), u'S');
  EXPECT_EQ(unitAt(20 + 2 * 14), 0);
  EXPECT_EQ(unitAt(20 + 2 * 259), 0x20AC);
  EXPECT_EQ(unitAt(544), u'c');
  EXPECT_EQ(unitAt(544 + 2 * 8), u'z');
  EXPECT_EQ(unitAt(1076), u'm');
  EXPECT_EQ(unitAt(1076 + 2 * 10), u's');
  EXPECT_EQ(unitAt(1640 + 2 * 255), u'Z');

  SettingsRecord back;
  back.deserialize(*reinterpret_cast<const std::uint8_t(*)[RecordBytes]>(b.data()));
  EXPECT_EQ(serialized(back), b);
}

class SettingsFile : public ::testing::Test {
 protected:
  kestrel_testing::TempHandheld handheld;
};

TEST_F(SettingsFile, EmptyCardGivesTheDefaultsAndTheFirstSaveWritesThem) {
  Settings s;
  EXPECT_EQ(s.magic, 0x177D5753u);
  EXPECT_EQ(s.version, 258u);
  EXPECT_EQ(s.recordSize, 2152u);
  EXPECT_EQ(s.kernelDirectorySet, 0u);
  EXPECT_EQ(s.kernelFileSet, 0u);
  EXPECT_EQ(s.platform, PlatformId{});
  EXPECT_EQ(s.rootDevice, 0);
  EXPECT_EQ(textOf(s.fsImagePath), u"miniroot.fs");
  EXPECT_EQ(s.pauseBeforeBoot, 1u);
  EXPECT_EQ(s.safetyMessage, 1u);
  EXPECT_EQ(s.serialSpeed, 19200u);
  EXPECT_EQ(s.autoBootSeconds, 0);
  EXPECT_EQ(textOf(s.extraOptions), u"");
  EXPECT_EQ(s.initialDirectoryChoice(), 0);
  EXPECT_FALSE(handheld.exists(cnf)) << "the file is written only when a boot starts";

  ASSERT_TRUE(s.saveFile());
  Bytes expected(2152, 0);
  const std::uint8_t header[12] = {0x53, 0x57, 0x7D, 0x17, 0x02, 0x01, 0x00, 0x00, 0x68, 0x08, 0x00, 0x00};
  std::memcpy(expected.data(), header, 12);
  const char16_t image[] = u"miniroot.fs";
  for (std::size_t k = 0; image[k]; ++k) ce::putLe16(expected.data() + 1076 + 2 * k, image[k]);
  ce::putLe32(expected.data() + 1624, 1);      // pauseBeforeBoot
  ce::putLe32(expected.data() + 1632, 1);      // safetyMessage
  ce::putLe32(expected.data() + 1636, 19200);  // serialSpeed
  EXPECT_EQ(readBytes(handheld, cnf), expected);
  EXPECT_FALSE(handheld.exists(tmp));
}

struct LoadCase {
  const char* what;
  Bytes file;
  std::size_t supplied;  // record bytes that come from the file; 0: the file is not used
};

TEST_F(SettingsFile, LoadTakesWhatTheFileSuppliesAndDefaultsForTheRest) {
  const LoadCase cases[] = {
      {"a whole record", patternFile(2152, 0x177D5753, 258, 2152), 2152},
      {"version 257 is accepted", patternFile(2152, 0x177D5753, 257, 2152), 2152},
      {"any stored version plays no part", patternFile(2152, 0x177D5753, 0xFFFFFFFF, 2152), 2152},
      {"recordSize above 2152 is read as 2152", patternFile(2400, 0x177D5753, 258, 0x7FFFFFFF), 2152},
      {"a smaller recordSize", patternFile(2152, 0x177D5753, 258, 1000), 1000},
      {"a file shorter than its recordSize", patternFile(600, 0x177D5753, 258, 2152), 600},
      {"recordSize 0: only the header", patternFile(2152, 0x177D5753, 258, 0), 12},
      {"exactly the header", patternFile(12, 0x177D5753, 258, 2152), 12},
      {"an empty file", Bytes{}, 0},
      {"a file shorter than the header", patternFile(11, 0x177D5753, 258, 2152), 0},
      {"another magic", patternFile(2152, 0x53577D17, 258, 2152), 0},
      {"a zero magic", patternFile(2152, 0, 258, 2152), 0},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.what);
    handheld.writeFile(cnf, c.file);
    Settings s;
    const Bytes expected = c.supplied ? expectedAfterLoad(c.file, c.supplied) : defaultBytes();
    EXPECT_EQ(serialized(s), expected);
    // The next boot start writes exactly the record in memory, whatever the file held.
    ASSERT_TRUE(s.saveFile());
    EXPECT_EQ(readBytes(handheld, cnf), expected);
  }
}

TEST_F(SettingsFile, ValuesOutOfRangeTakeTheirDefaultAndTheRestStaysAsStored) {
  struct Case {
    const char* what;
    void (*spoil)(SettingsRecord&);
    void (*expect)(const Settings&);
  };
  const Case cases[] = {
      {"root device 6", [](SettingsRecord& r) { r.rootDevice = 6; }, [](const Settings& s) { EXPECT_EQ(s.rootDevice, 0); }},
      {"root device -1", [](SettingsRecord& r) { r.rootDevice = -1; }, [](const Settings& s) { EXPECT_EQ(s.rootDevice, 0); }},
      {"delay -1", [](SettingsRecord& r) { r.autoBootSeconds = -1; },
       [](const Settings& s) { EXPECT_EQ(s.autoBootSeconds, 0); }},
      {"delay past the timer", [](SettingsRecord& r) { r.autoBootSeconds = 0x7FFFFFFF; },
       [](const Settings& s) { EXPECT_EQ(s.autoBootSeconds, 0); }},
      {"0 bit/s", [](SettingsRecord& r) { r.serialSpeed = 0; }, [](const Settings& s) { EXPECT_EQ(s.serialSpeed, 19200u); }},
      // The edges themselves are values.
      {"root device 5", [](SettingsRecord& r) { r.rootDevice = 5; }, [](const Settings& s) { EXPECT_EQ(s.rootDevice, 5); }},
      {"delay at the limit", [](SettingsRecord& r) { r.autoBootSeconds = 2147483; },
       [](const Settings& s) { EXPECT_EQ(s.autoBootSeconds, 2147483); }},
      {"1 bit/s", [](SettingsRecord& r) { r.serialSpeed = 1; }, [](const Settings& s) { EXPECT_EQ(s.serialSpeed, 1u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsRecord stored;
    stored.setDefaults();
    setText(stored.kernelFile, u"corvid-9");
    stored.kernelFileSet = 1;
    stored.platform = {0x0C208000, 0x00000001};
    stored.rootDevice = 1;
    stored.autoBootSeconds = 7;
    stored.serialSpeed = 115200;
    stored.pauseBeforeBoot = 2;  // a flag holds whatever was stored: nonzero is set
    c.spoil(stored);
    handheld.writeFile(cnf, serialized(stored));
    Settings s;
    c.expect(s);
    // Only the spoilt field moved.
    SettingsRecord want = stored;
    const SettingsRecord& got = s;
    for (const SettingsField& f : settingsFields()) {
      if (f.kind == FieldKind::Text || f.get(want) == f.get(got)) continue;
      SettingsRecord defaults;
      defaults.setDefaults();
      EXPECT_EQ(f.get(got), f.get(defaults)) << f.name;
      EXPECT_TRUE(storedValueRefused(f, f.get(want))) << f.name;
    }
    EXPECT_EQ(textOf(s.kernelFile), u"corvid-9");
    EXPECT_EQ(s.pauseBeforeBoot, 2u);
    // And what is saved back is what was used.
    ASSERT_TRUE(s.saveFile());
    EXPECT_EQ(readBytes(handheld, cnf), serialized(s));
  }
}

TEST(SettingsFileLocation, NoStorageCardMeansNoFile) {
  kestrel_testing::TempHandheld bare("Compaq iPAQ H3600", {});
  bare.writeFile(u"\\kestrel.cnf", patternFile(2152, 0x177D5753, 258, 2152));  // in the root, not on a card
  Settings s;
  EXPECT_EQ(serialized(s), defaultBytes());
  char16_t name[TemporaryDirectoryUnits];
  EXPECT_FALSE(findTemporaryDirectory(name));
  EXPECT_FALSE(s.loadFile());
  EXPECT_FALSE(s.saveFile());
}

TEST(SettingsFileLocation, TheFileLivesOnTheFirstListedCard) {
  kestrel_testing::TempHandheld two("Compaq iPAQ H3600", {"CF Card", "Storage Card"});
  std::filesystem::create_directories(two.dir() / "My Documents");
  two.writeFile(u"\\notes.txt", "abc");
  SettingsRecord first, second;
  first.setDefaults(), second.setDefaults();
  first.serialSpeed = 9600, second.serialSpeed = 115200;
  two.writeFile(u"\\CF Card\\kestrel.cnf", serialized(first));
  two.writeFile(u"\\Storage Card\\kestrel.cnf", serialized(second));

  char16_t name[TemporaryDirectoryUnits];
  ASSERT_TRUE(findTemporaryDirectory(name));
  EXPECT_EQ(std::u16string(name), u"CF Card");

  Settings s;
  EXPECT_EQ(s.serialSpeed, 9600u);
  s.serialSpeed = 38400;
  ASSERT_TRUE(s.saveFile());
  EXPECT_EQ(ce::getLe32(readBytes(two, u"\\CF Card\\kestrel.cnf").data() + 1636), 38400u);
  EXPECT_EQ(readBytes(two, u"\\Storage Card\\kestrel.cnf"), serialized(second));
}

TEST_F(SettingsFile, FailedSaveLeavesTheSavedFileAsItWas) {
  SettingsRecord saved;
  saved.setDefaults();
  saved.serialSpeed = 115200;
  setText(saved.kernelFile, u"corvid-old.gz");
  saved.kernelFileSet = 1;
  const Bytes before = serialized(saved);
  handheld.writeFile(cnf, before);

  Settings s;
  ASSERT_EQ(s.serialSpeed, 115200u);
  s.serialSpeed = 9600;
  for (long limit : {1L, 12L, 1000L, 2151L}) {
    SCOPED_TRACE(limit);
    handheld.faults().writeFailAfter = limit;
    EXPECT_FALSE(s.saveFile());
    handheld.faults().writeFailAfter = 0;
    EXPECT_EQ(readBytes(handheld, cnf), before);
    EXPECT_FALSE(handheld.exists(tmp)) << "the partial record is not left behind";
    EXPECT_EQ(Settings().serialSpeed, 115200u);
  }
  EXPECT_EQ(s.serialSpeed, 9600u) << "the record in memory is used for the boot all the same";

  ASSERT_TRUE(s.saveFile());
  EXPECT_EQ(readBytes(handheld, cnf), serialized(s));
  EXPECT_FALSE(handheld.exists(tmp));
}

TEST_F(SettingsFile, AReplaceCutShortIsFoundInTheTemporaryFile) {
  SettingsRecord record;
  record.setDefaults();
  record.serialSpeed = 115200;
  // Stopped between deleting kestrel.cnf and renaming the complete kestrel.tmp.
  handheld.writeFile(tmp, serialized(record));
  {
    Settings s;
    EXPECT_EQ(serialized(s), serialized(record));
    ASSERT_TRUE(s.saveFile());
  }
  EXPECT_EQ(readBytes(handheld, cnf), serialized(record));
  EXPECT_FALSE(handheld.exists(tmp));

  // An interrupted write of the temporary file is no record; nor is it used while the real
  // file exists.
  std::filesystem::remove(handheld.hostPath(cnf));
  Bytes partial = serialized(record);
  partial.resize(1000);
  handheld.writeFile(tmp, partial);
  EXPECT_EQ(serialized(Settings()), defaultBytes());

  SettingsRecord current;
  current.setDefaults();
  current.serialSpeed = 9600;
  handheld.writeFile(cnf, serialized(current));
  handheld.writeFile(tmp, serialized(record));
  EXPECT_EQ(Settings().serialSpeed, 9600u);
}

// Front-end stand-ins that record what reaches them.
struct Log {
  std::vector<std::string> calls;
};

class Page : public SettingsPage {
 public:
  Page(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
  void saveToSettings() override { log_.calls.push_back(name_); }

 private:
  Log& log_;
  std::string name_;
};

class Pane : public ConsolePane {
 public:
  void print(const char16_t* text, bool paneOnly) override { texts.push_back({text, paneOnly}); }
  std::vector<std::pair<std::u16string, bool>> texts;
};

class Window : public BootWindow {
 public:
  explicit Window(Log& log) : log_(log) {}
  void stepProgress(const char* label) override { log_.calls.push_back(std::string("step ") + label); }
  void resetProgress() override { log_.calls.push_back("reset"); }
  ce::HWND window() const override { return reinterpret_cast<ce::HWND>(0x1234); }
  ce::HINSTANCE instance() const override { return ce::programInstance(); }

 private:
  Log& log_;
};

class SettingsFrontEnd : public SettingsFile {};

TEST_F(SettingsFrontEnd, ForwardsToTheRegisteredPagesAndWindow) {
  Settings s;
  Log log;
  Page main(log, "main"), option(log, "option");
  Window window(log);
  s.collectFromTabs();
  s.stepProgress("0");
  EXPECT_EQ(s.ownerWindow(), nullptr);
  EXPECT_TRUE(log.calls.empty());

  s.optionTab = &option;
  s.mainTab = &main;
  s.mainWindow = &window;
  s.collectFromTabs();
  s.stepProgress("7");
  s.resetProgress();
  EXPECT_EQ(log.calls, (std::vector<std::string>{"main", "option", "step 7", "reset"}));
  EXPECT_EQ(s.ownerWindow(), reinterpret_cast<ce::HWND>(0x1234));
}

std::vector<std::uint32_t> bootCalls;
void recordBoot(std::uint32_t argument) { bootCalls.push_back(argument); }

TEST_F(SettingsFrontEnd, RunBootStartsTheInstalledCallbackOnly) {
  Settings s;
  bootCalls.clear();
  EXPECT_EQ(s.bootCallback, nullptr);
  s.runBoot();
  EXPECT_TRUE(bootCalls.empty());
  s.bootCallback = recordBoot;
  s.bootCallbackArg = 0;
  s.runBoot();
  EXPECT_EQ(bootCalls, (std::vector<std::uint32_t>{0}));
}

TEST_F(SettingsFrontEnd, LcdConsoleTextReachesTheConsoleTabWhileBothExist) {
  Pane pane;
  {
    Settings s;
    currentConsole()->print(u"before the pages %d\n", 1);
    s.consoleTab = &pane;
    currentConsole()->print(u"BOOT START\n");
    currentConsole()->print(u"[progress] %S\n", "0");
  }
  currentConsole()->print(u"after the settings are gone\n");
  releaseConsole();
  ASSERT_EQ(pane.texts.size(), 2u);
  EXPECT_EQ(pane.texts[0], (std::pair<std::u16string, bool>{u"BOOT START\n", false}));
  EXPECT_EQ(pane.texts[1], (std::pair<std::u16string, bool>{u"[progress] 0\n", false}));
}

TEST_F(SettingsFrontEnd, KernelDirectoryChoicesComeFromTheStringTable) {
  Settings s;
  const std::pair<int, std::u16string> texts[] = {
      {0, u"/"},
      {1, u"2:/"},
      {2, u"\\"},
      {4, u"\\Storage Card\\"},
      {7, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E\\"},
      {12, u"\\microSD\u30AB\u30FC\u30C9\\"},
      {13, u"user defined"},
  };
  for (const auto& [i, text] : texts) EXPECT_EQ(s.kernelDirectoryChoice(i), text) << i;
  int count = 0;
  while (s.kernelDirectoryChoice(count)) ++count;
  EXPECT_EQ(count, 14);
  EXPECT_EQ(s.kernelDirectoryChoice(-1), std::nullopt);

  setText(s.kernelDirectory, u"http://192.168.0.1/corvid/");
  EXPECT_EQ(s.kernelDirectoryChoice(13), u"user defined") << "the text counts only with its flag";
  s.kernelDirectorySet = 1;
  EXPECT_EQ(s.kernelDirectoryChoice(13), u"http://192.168.0.1/corvid/");
  EXPECT_EQ(s.kernelDirectoryChoice(12), u"\\microSD\u30AB\u30FC\u30C9\\");
  EXPECT_EQ(s.kernelDirectoryChoice(14), std::nullopt);
  EXPECT_EQ(s.initialDirectoryChoice(), 13);

  // A saved text that fills its whole array, without a terminator, is cut at the array.
  for (char16_t& unit : s.kernelDirectory) unit = u'd';
  EXPECT_EQ(s.kernelDirectoryChoice(13), std::u16string(260, u'd'));
}

TEST_F(SettingsFrontEnd, AccessorKeepsOneObjectAndReleaseDoesNotSave) {
  Settings& first = settings();
  EXPECT_EQ(&settings(), &first);
  first.serialSpeed = 9600;
  releaseSettings();
  EXPECT_FALSE(handheld.exists(cnf));
  EXPECT_EQ(settings().serialSpeed, 19200u);
  releaseSettings();
}

}  // namespace
}  // namespace kestrel
