// The boot object: the family chosen from the platform, what it copies from the settings,
// the components it makes, and the order in which it lets them go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arch/pxa2x0_architecture.h"
#include "arch/sa11x0_architecture.h"
#include "boot/boot.h"
#include "boot/boot_sequence.h"
#include "boot/platform_table.h"
#include "boot/settings.h"
#include "load/loader.h"
#include "memory/memory_manager.h"
#include "tests/boot/boot_fixture.h"

namespace kestrel::testing {
namespace {

class BootObjectTest : public BootTest {
 protected:
  Settings& s() { return settings(); }
};

TEST_F(BootObjectTest, AccessorInstallsTheBootSequenceOnce) {
  s().bootCallback = nullptr;
  s().bootCallbackArg = 7;
  ArmBoot* boot = bootObject();
  ASSERT_NE(boot, nullptr);
  EXPECT_EQ(s().bootCallback, &bootSequence);
  EXPECT_EQ(s().bootCallbackArg, 0u);
  EXPECT_EQ(bootObject(), boot);
  EXPECT_FALSE(boot->family().has_value());
  EXPECT_EQ(boot->console(), currentConsole());
  EXPECT_EQ(boot->architecture(), nullptr);
}

TEST_F(BootObjectTest, FamilyOfEverySelectablePlatform) {
  int selectable = 0;
  for (std::size_t i = 0; i < platformTableCount; ++i) {
    const PlatformEntry& entry = platformTable[i];
    SCOPED_TRACE(std::string(entry.name, entry.name + std::char_traits<char16_t>::length(entry.name)));
    if (!entry.selectable()) continue;
    ++selectable;
    s().platform = entry.id;
    ArmBoot boot;
    ASSERT_TRUE(boot.setup());
    std::uint32_t model = entry.id.cpu & 0x03FFC000;
    ProcessorFamily expected = model == 0x00104000 || model == 0x00108000 ? ProcessorFamily::SA11x0
                                                                           : ProcessorFamily::PXA2x0;
    EXPECT_EQ(boot.family(), expected);
  }
  EXPECT_EQ(selectable, 19);
}

TEST_F(BootObjectTest, PlatformsWithoutAFamilyAreRefused) {
  const PlatformId refused[] = {
      {0, 0},                    // no configuration yet
      {0x0C200000, 0},           // "ARM XSCALE": no model
      {0x0C10C000, 0x01C40201},  // a StrongARM model nobody makes
      {0x08104000, 0x01C40201},  // not ARM
  };
  for (const PlatformId& id : refused) {
    SCOPED_TRACE(id.cpu);
    s().platform = id;
    ArmBoot boot;
    EXPECT_FALSE(boot.setup());
    EXPECT_FALSE(boot.family().has_value());
  }
}

TEST_F(BootObjectTest, ArchitectureClassFollowsTheFamily) {
  const struct {
    PlatformId id;
    bool sa11x0;
    const char16_t* line;
  } cases[] = {
      {{0x0C108000, 0x02C20201}, true, u"ARM architecture.\nSA-11x0 CPU.\n"},   // HP Jornada 720 (US/UK)
      {{0x0C204000, 0x01C40301}, false, u"ARM architecture.\nPXA-2x0 CPU.\n"},  // Compaq iPAQ H3900
      {{0x0C208000, 0x01040100}, false, u"ARM architecture.\nPXA-2x0 CPU.\n"},  // Sharp W-ZERO3 (WS003SH)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id.machine);
    s().platform = c.id;
    ArmBoot boot;
    front_.console.clear();
    ASSERT_TRUE(boot.setup());
    ASSERT_TRUE(boot.createComponents());
    EXPECT_EQ(dynamic_cast<SA11x0Architecture*>(boot.architecture()) != nullptr, c.sa11x0);
    EXPECT_EQ(dynamic_cast<PXA2x0Architecture*>(boot.architecture()) != nullptr, !c.sa11x0);
    EXPECT_NE(boot.memoryManager(), nullptr);
    EXPECT_NE(boot.fileManager(), nullptr);
    EXPECT_EQ(boot.loader(), nullptr);
    EXPECT_EQ(front_.console.rfind(c.line, 0), 0u) << std::string(front_.console.begin(), front_.console.end());
    EXPECT_NE(front_.console.find(u"MemoryManager: LockPages\n"), std::u16string::npos);
    EXPECT_EQ(currentConsole(), boot.console());
  }
}

TEST_F(BootObjectTest, SourceTypeFromTheDirectoryText) {
  s().platform = {0x0C108000, 0x01C40201};
  const struct {
    const char16_t* directory;
    std::int32_t type;
  } cases[] = {
      {u"http://192.0.2.1/corvid/", 2}, {u"see http://x", 2},       {u"2:/", 1},
      {u"/", 1},                        {u"\\Storage/Card\\", 1},   {u"\\Storage Card\\", 0},
      {u"\\My Documents\\", 0},         {u"", 0},                   {u"http:/x", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.directory, c.directory + std::char_traits<char16_t>::length(c.directory)));
    setText(s().kernelDirectory, c.directory);
    ArmBoot boot;
    ASSERT_TRUE(boot.setup());
    EXPECT_EQ(static_cast<std::int32_t>(boot.sourceType()), c.type);
    EXPECT_EQ(std::u16string(boot.kernelDirectory()), c.directory);
  }
}

TEST_F(BootObjectTest, ImageCopiedOnlyForMd) {
  s().platform = {0x0C108000, 0x01C40201};
  setText(s().kernelFile, u"corvid.gz");
  setText(s().fsImagePath, u"miniroot.fs");
  for (std::int32_t root : {0, 1, 2, 3, 4, 5}) {
    SCOPED_TRACE(root);
    s().rootDevice = root;
    ArmBoot boot;
    ASSERT_TRUE(boot.setup());
    EXPECT_EQ(boot.imageWanted(), root == 2);
    EXPECT_EQ(std::u16string(boot.imageFile()), root == 2 ? u"miniroot.fs" : u"");
    EXPECT_EQ(std::u16string(boot.kernelFile()), u"corvid.gz");
  }
}

TEST_F(BootObjectTest, SerialConsoleWantedFollowsTheFlag) {
  s().platform = {0x0C108000, 0x01C40201};
  for (std::uint32_t flag : {0u, 1u, 5u}) {
    s().serialConsole = flag;
    ArmBoot boot;
    ASSERT_TRUE(boot.setup());
    EXPECT_EQ(boot.serialConsoleWanted(), flag != 0);
  }
}

class NoLockPagesTest : public BootTest {
 protected:
  NoLockPagesTest() : BootTest({"Compaq iPAQ H3600", {"Storage Card"}, true, "lock_pages = 0"}) {}
};

TEST_F(NoLockPagesTest, KeepsTheArchitectureWithoutAMemoryManager) {
  settings().platform = {0x0C108000, 0x01C40201};
  ArmBoot boot;
  ASSERT_TRUE(boot.setup());
  front_.console.clear();
  EXPECT_FALSE(boot.createComponents());
  EXPECT_NE(front_.console.find(u"couldn't find LockPages/UnlockPages.\n"), std::u16string::npos);
  EXPECT_NE(boot.architecture(), nullptr);
  EXPECT_EQ(boot.memoryManager(), nullptr);
  EXPECT_EQ(boot.fileManager(), nullptr);
}

// Components that write down when they go.
std::vector<std::string>* released = nullptr;

class NoteArchitecture final : public Architecture {
 public:
  using Architecture::Architecture;
  ~NoteArchitecture() override { released->push_back("architecture"); }
  bool init() override { return true; }
  bool setupLoader() override { return true; }
  void jump(std::uint32_t, std::uint32_t) override {}
  ProcessorFamily family() const override { return ProcessorFamily::SA11x0; }
  SerialConsoleMaker serialConsoleMaker() const override { return nullptr; }
};
class NoteMemory final : public MemoryManager {
 public:
  using MemoryManager::MemoryManager;
  ~NoteMemory() override { released->push_back("memory manager"); }
  std::uint32_t virtualToPhysical(std::uintptr_t) override { return NoPhysical; }
};
class NoteFiles final : public FileManager {
 public:
  using FileManager::FileManager;
  ~NoteFiles() override { released->push_back("file manager"); }
  bool setRoot(const char16_t*) override { return true; }
  bool open(const char16_t*) override { return false; }
  std::uint32_t size() override { return 0; }
  void close() override {}
  std::int32_t read(void*, std::uint32_t, std::uint32_t) override { return -1; }
  std::int32_t write(const void*, std::uint32_t, std::uint32_t) override { return -1; }
  bool seek(std::uint32_t) override { return false; }
};
class NoteLoader final : public Loader {
 public:
  using Loader::Loader;
  ~NoteLoader() override { released->push_back("loader"); }
  std::uint32_t memorySize() override { return 0; }
  bool load() override { return false; }
  std::uint32_t entryAddress() override { return 0; }
};

class NotingBoot final : public Boot {
 public:
  void makeAll() {
    architecture_.reset(ce::heapNew<NoteArchitecture>(consoleSlot(), memoryManagerSlot()));
    memoryManager_.reset(ce::heapNew<NoteMemory>(consoleSlot(), 4096u));
    fileManager_.reset(ce::heapNew<NoteFiles>(consoleSlot()));
    loader_.reset(ce::heapNew<NoteLoader>(consoleSlot(), memoryManagerSlot()));
  }
};

TEST_F(BootObjectTest, ReleasesMemoryManagerArchitectureFileManagerLoader) {
  std::vector<std::string> order;
  released = &order;
  {
    NotingBoot boot;
    boot.makeAll();
    // A replacement goes in before the old component goes.
    boot.makeAll();
    EXPECT_EQ(order, (std::vector<std::string>{"architecture", "memory manager", "file manager", "loader"}));
    order.clear();
  }
  released = nullptr;
  EXPECT_EQ(order, (std::vector<std::string>{"memory manager", "architecture", "file manager", "loader"}));
}

TEST_F(BootObjectTest, ReleaseDestroysTheObjectAndTheNextAccessMakesANewOne) {
  ArmBoot* first = bootObject();
  ASSERT_NE(first, nullptr);
  releaseBootObject();
  releaseBootObject();  // nothing left to release
  s().bootCallback = nullptr;
  ArmBoot* second = bootObject();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(s().bootCallback, &bootSequence);
}

}  // namespace
}  // namespace kestrel::testing
