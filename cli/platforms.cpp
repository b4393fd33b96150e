// kestrel platforms: the platform table as the boot loader knows it.
#include <cstdio>

#include "boot/platform_table.h"
#include "cli/command.h"

namespace kestrel::cli {

namespace {

int runPlatforms() {
  int position = 0;
  for (std::size_t i = 0; i < platformTableCount; ++i) {
    const PlatformEntry& entry = platformTable[i];
    std::string name = utf16ToUtf8(entry.name);
    std::string selectable = entry.selectable() ? std::to_string(position++) : "-";
    std::printf("%2zu  %-36s  0x%08x  0x%08x  %s\n", i, name.c_str(), entry.id.cpu, entry.id.machine,
                selectable.c_str());
  }
  return ExitOk;
}

}  // namespace

void addPlatformsCommand(CLI::App& root, CommandContext& context) {
  CLI::App* command = root.add_subcommand(
      "platforms",
      "List the 40 entries of the platform table in order: index, name, cpu and machine words in hex, and "
      "the selectable position of the entries that name one machine ('-' for processor classes and makers).");
  command->callback([&context] { context.status = runPlatforms(); });
}

}  // namespace kestrel::cli
