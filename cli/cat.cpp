// kestrel cat: read a file through the boot's own file manager, gzip layer included, and write
// what it delivers to stdout. It reads the way the loaders do, at rising explicit offsets.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "file/sources.h"

namespace kestrel::cli {

namespace {

struct CatOptions {
  std::string handheld;
  std::string directory;
  std::string file;
  bool size = false;
};

// The file manager's console lines go to stderr, so stdout carries nothing but the file.
class StderrConsole final : public Console {
 public:
  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override {
    formatIntoBuffer(format, args, count);
    const std::string text = utf16ToUtf8(buffer_);
    std::fputs(text.c_str(), stderr);
  }
};

constexpr std::uint32_t PieceBytes = 64 * 1024;

int runCat(const CatOptions& options) {
  const auto directory = utf8ToUtf16(options.directory);
  const auto name = utf8ToUtf16(options.file);
  if (!directory || !name) return fail(ExitUsage, "cat: --dir and FILE must be UTF-8");
  if (!openHandheld(handheldDirectory(options.handheld))) return ExitFailure;

  StderrConsole console;
  Console* const slot = &console;
  setCurrentConsole(&console);
  struct Restore {
    ~Restore() { setCurrentConsole(nullptr); }
  } restore;

  GzipFileManager files(&slot, makeSource(&slot, sourceTypeFor(directory->c_str())));
  if (!files.setRoot(directory->c_str())) return fail(ExitFailure, "cat: can't set root directory");
  if (!files.open(name->c_str())) return fail(ExitFailure, "cat: can't open " + options.file);

  if (options.size) {
    const std::uint32_t bytes = files.realSize();
    files.close();
    if (bytes == 0xFFFFFFFFu) return fail(ExitFailure, "cat: " + options.file + " is damaged (no size)");
    std::printf("%u\n", bytes);
    return std::fflush(stdout) == 0 ? ExitOk : fail(ExitFailure, "cat: can't write to stdout");
  }

  // A source that cannot read a piece (a bad sector on a UFS card) delivers less and then
  // nothing: for a plain file, ending before its size is a read error, not the end.
  const std::uint32_t plainSize = files.compressed() ? 0xFFFFFFFFu : files.size();
  std::vector<std::uint8_t> buffer(PieceBytes);
  std::uint32_t offset = 0;
  int status = ExitOk;
  for (;;) {
    const std::int32_t n = files.read(buffer.data(), PieceBytes, offset);
    if (n == 0) break;
    if (n < 0) {
      status = fail(ExitFailure, "cat: read error at offset " + std::to_string(offset) + " of " + options.file);
      break;
    }
    if (std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), stdout) != static_cast<std::size_t>(n)) {
      status = fail(ExitFailure, "cat: can't write to stdout");
      break;
    }
    if (static_cast<std::uint32_t>(n) > 0xFFFFFFFFu - offset) {
      status = fail(ExitFailure, "cat: " + options.file + " is longer than 4 GiB");
      break;
    }
    offset += static_cast<std::uint32_t>(n);
  }
  if (status == ExitOk && plainSize != 0xFFFFFFFFu && offset != plainSize)
    status = fail(ExitFailure, "cat: read error at offset " + std::to_string(offset) + " of " + options.file);
  files.close();
  if (std::fflush(stdout) != 0 && status == ExitOk) status = fail(ExitFailure, "cat: can't write to stdout");
  return status;
}

}  // namespace

void addCatCommand(CLI::App& root, CommandContext& context) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* command = root.add_subcommand(
      "cat",
      "Read FILE through the boot's file manager and write its content to stdout: a gzip file is "
      "decompressed (concatenated members too), any other file is passed through. The source follows "
      "from --dir as in a boot: a text containing \"http://\" names an HTTP server, else one containing "
      "'/' a UFS partition, else a directory of the device (e.g. '\\Storage Card\\', with its final "
      "backslash: the name is appended as it stands). The file manager's messages go to stderr. Exits "
      "0 only when the whole file was read; non-zero when the root or the file cannot be opened or the "
      "data is damaged or cut short.");
  addHandheldOption(*command, options->handheld);
  command->add_option("--dir", options->directory, "kernel directory, as on the Main tab")->required()->option_text("TEXT");
  command->add_option("FILE", options->file, "file name inside the directory, e.g. corvid.gz")->required();
  command->add_flag("--size", options->size,
                    "print the size of the content (uncompressed for gzip) in decimal instead of the content; "
                    "non-zero exit when the file is damaged");
  command->callback([&context, options] { context.status = runCat(*options); });
}

}  // namespace kestrel::cli
