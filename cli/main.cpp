// kestrel: the command-line front end of the boot loader, run against a simulated handheld.
#include <iostream>

#include "cli/command.h"

namespace kestrel::cli {

// The subcommands. Adding one: declare its add function here and list it below.
void addPlatformsCommand(CLI::App& root, CommandContext& context);
void addHandheldCommand(CLI::App& root, CommandContext& context);
void addConfigCommand(CLI::App& root, CommandContext& context);
void addBootCommand(CLI::App& root, CommandContext& context);
void addCatCommand(CLI::App& root, CommandContext& context);
void addHandoffCommand(CLI::App& root, CommandContext& context);

constexpr AddCommand commands[] = {
    addPlatformsCommand,
    addHandheldCommand,
    addConfigCommand,
    addBootCommand,
    addCatCommand,
    addHandoffCommand,
};

}  // namespace kestrel::cli

int main(int argc, char** argv) {
  using namespace kestrel::cli;
  CLI::App app{"kestrel: the boot loader for Windows CE ARM handhelds, on a simulated handheld."};
  app.name("kestrel");
  app.require_subcommand(1);
  CommandContext context;
  for (AddCommand add : commands) add(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return fail(ExitUsage, std::string(e.what()) + " (see --help)");
  }
  return context.status;
}
