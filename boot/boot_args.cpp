// The kernel argument page and BootInfo.
#include "boot/boot_args.h"

#include <cstring>
#include <string_view>

#include "arch/architecture.h"
#include "arch/framebuffer.h"
#include "boot/settings.h"
#include "common/message_box.h"
#include "load/loader.h"
#include "platform/bytes.h"
#include "platform/heap.h"
#include "platform/message_box.h"
#include "platform/system.h"
#include "platform/text.h"

namespace kestrel {

namespace {

using namespace boot_args;

void warn(const char16_t* text) { ownedMessageBox(text, u"WARNING", ce::MbOk | ce::MbIconExclamation); }

// Appends arguments to the vector; every string is bounds-checked against the room, even
// the ones that always fit, so a page can never be overrun.
class ArgvWriter {
 public:
  ArgvWriter(std::uint8_t* vector, std::uint32_t physical, std::uint32_t room)
      : vector_(vector), physical_(physical), room_(room) {}

  int argc() const { return argc_; }
  bool full() const { return argc_ >= static_cast<int>(MaxArguments); }
  // Whether `length` bytes and a terminator end inside the room.
  bool fits(std::uint32_t length) const { return length < room_ && position_ + length + 1 <= room_; }

  // Adds `prefix` followed by `bytes`, then a 0 byte.
  bool add(std::string_view prefix, std::string_view bytes) {
    std::uint32_t length = static_cast<std::uint32_t>(prefix.size() + bytes.size());
    if (full() || !fits(length)) return false;
    ce::putLe32(vector_ + 4 * argc_, physical_ + position_);
    std::memcpy(vector_ + position_, prefix.data(), prefix.size());
    std::memcpy(vector_ + position_ + prefix.size(), bytes.data(), bytes.size());
    vector_[position_ + length] = 0;
    position_ += length + 1;
    ++argc_;
    return true;
  }

  // Adds `prefix` followed by `text` in the default code page, then a 0 byte.
  bool addConverted(std::string_view prefix, std::u16string_view text) {
    if (full() || !fits(static_cast<std::uint32_t>(prefix.size()))) return false;
    std::uint32_t start = position_ + static_cast<std::uint32_t>(prefix.size());
    int converted = 0;
    if (!text.empty()) {
      int space = static_cast<int>(room_ - start - 1);  // the terminator keeps its byte
      converted = ce::WideCharToMultiByte(ce::CpAcp, 0, text.data(), static_cast<int>(text.size()),
                                          reinterpret_cast<char*>(vector_ + start), space, nullptr, nullptr);
      if (converted <= 0) converted = 0;
    }
    ce::putLe32(vector_ + 4 * argc_, physical_ + position_);
    std::memcpy(vector_ + position_, prefix.data(), prefix.size());
    vector_[start + converted] = 0;
    position_ = start + static_cast<std::uint32_t>(converted) + 1;
    ++argc_;
    return true;
  }

 private:
  std::uint8_t* vector_;
  std::uint32_t physical_;
  std::uint32_t room_;
  std::uint32_t position_ = MaxArguments * 4;  // the strings follow the 16 slots
  int argc_ = 0;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int buildArgv(const Settings& settings, std::uint8_t* vector, std::uint32_t vectorPhysical, std::uint32_t room) {
  ArgvWriter argv(vector, vectorPhysical, room);

  // Argument 0: the kernel's own name.
  argv.addConverted("", textOf(settings.kernelFile));

  // One letter per boot flag, in the kernel's order.
  const struct {
    std::uint32_t flag;
    const char* letter;
  } flags[] = {
      {settings.serialConsole, "h"}, {settings.bootVerbose, "v"},    {settings.singleUser, "s"},
      {settings.askName, "a"},       {settings.kernelDebugger, "d"},
  };
  for (const auto& f : flags) {
    if (f.flag) argv.add(f.letter, "");
  }

  switch (static_cast<RootDevice>(settings.rootDevice)) {
    case RootDevice::Sd: argv.add("b=sd0", ""); break;
    case RootDevice::Md: argv.addConverted("m=", textOf(settings.fsImagePath)); break;
    case RootDevice::Nfs: argv.add("b=nfs", ""); break;
    case RootDevice::Dk: argv.add("b=dk0", ""); break;
    case RootDevice::Ld: argv.add("b=ld0", ""); break;
    default: break;  // "wd" is the kernel's own default
  }

  // Extra options: tokens separated by blanks and tabs, in the default code page.
  std::u16string_view extra = textOf(settings.extraOptions);
  int bytes = extra.empty() ? 0
                            : ce::WideCharToMultiByte(ce::CpAcp, 0, extra.data(), static_cast<int>(extra.size()),
                                                      nullptr, 0, nullptr, nullptr);
  if (bytes < 0) bytes = 0;
  ce::HeapPtr<char> options(static_cast<char*>(ce::LocalAlloc(ce::LmemFixed, static_cast<std::size_t>(bytes) + 1)));
  if (!options) {
    warn(u"Can't allocate memory for extra kernel options.");
    return argv.argc();
  }
  if (bytes > 0) {
    bytes = ce::WideCharToMultiByte(ce::CpAcp, 0, extra.data(), static_cast<int>(extra.size()), options.get(), bytes,
                                    nullptr, nullptr);
    if (bytes < 0) bytes = 0;
  }
  options.get()[bytes] = 0;

  const char* p = options.get();
  for (;;) {
    while (isBlank(*p)) ++p;
    if (!*p) break;
    const char* token = p;
    while (*p && !isBlank(*p)) ++p;
    if (!argv.add(std::string_view(token, static_cast<std::size_t>(p - token)), "")) {
      warn(u"Too many extra kernel options.");
      break;
    }
  }
  return argv.argc();
}

void buildBootInfo(const Settings& settings, std::uint8_t* block) {
  using namespace boot_info;
  FrameBufferInfo frameBuffer(settings.platform);
  ce::TIME_ZONE_INFORMATION zone;
  ce::DWORD zoneId = ce::GetTimeZoneInformation(&zone);

  std::memset(block, 0, Size);
  ce::putLe16(block + LengthOffset, static_cast<std::uint16_t>(Size));
  ce::putLe32(block + MagicOffset, Magic);
  ce::putLe32(block + FrameBufferOffset, frameBuffer.address());
  ce::putLe16(block + LineBytesOffset, static_cast<std::uint16_t>(frameBuffer.lineBytes()));
  ce::putLe16(block + WidthOffset, static_cast<std::uint16_t>(frameBuffer.width()));
  ce::putLe16(block + HeightOffset, static_cast<std::uint16_t>(frameBuffer.height()));
  ce::putLe16(block + TypeOffset,
              static_cast<std::uint16_t>(frameBufferType(frameBuffer.depth(), settings.reverseVideo != 0)));
  ce::putLe32(block + CpuOffset, settings.platform.cpu);
  ce::putLe32(block + MachineOffset, settings.platform.machine);
  // UTC = local + bias; while daylight-saving time is in effect its bias adds to it.
  std::int32_t minutes = zone.Bias;
  if (zoneId == ce::TimeZoneIdDaylight) minutes += zone.DaylightBias;
  ce::putLe32(block + TimeZoneOffset, static_cast<std::uint32_t>(minutes));
}

std::uint32_t buildBootArgs(Architecture& architecture, Loader& loader) {
  MemoryManager& memory = **architecture.memoryManagerSlot();
  Console& console = **architecture.consoleSlot();
  const Settings& config = settings();
  std::uint32_t pageSize = memory.pageSize();

  std::uintptr_t page = 0;
  std::uint32_t physical = 0;
  if (!memory.getTopPage(page, physical)) {
    console.print(u"can't get page for boot arguments.\n");
    return 0xFFFFFFFFu;
  }
  auto* v = reinterpret_cast<std::uint8_t*>(page);

  int argc = buildArgv(config, v + VectorOffset, physical + VectorOffset, pageSize - VectorOffset - PageTailBytes);
  ce::putLe32(v + ArgcOffset, static_cast<std::uint32_t>(argc));
  ce::putLe32(v + ArgvPointerOffset, physical + VectorOffset);
  buildBootInfo(config, v + BootInfoOffset);
  std::int16_t kind = (*architecture.consoleSlot())->bootConsoleKind();
  ce::putLe16(v + BootInfoOffset + boot_info::ConsoleKindOffset, static_cast<std::uint16_t>(kind));
  ce::putLe32(v + BootInfoPointerOffset, physical + BootInfoOffset);
  ce::putLe32(v + EntryOffset, loader.entryAddress());

  const std::uint8_t* info = v + BootInfoOffset;
  console.print(u"framebuffer: %dx%d type=%d linebytes=%d addr=0x%08x\n",
                static_cast<std::int16_t>(ce::getLe16(info + boot_info::WidthOffset)),
                static_cast<std::int16_t>(ce::getLe16(info + boot_info::HeightOffset)),
                static_cast<std::int16_t>(ce::getLe16(info + boot_info::TypeOffset)),
                static_cast<std::int16_t>(ce::getLe16(info + boot_info::LineBytesOffset)),
                ce::getLe32(info + boot_info::FrameBufferOffset));
  console.print(u"console = %d\n", kind);
  return physical;
}

}  // namespace kestrel
