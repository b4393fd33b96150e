#include "tests/file/ufs_disk.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace fs = std::filesystem;

namespace kestrel::ufs_test {

int shell(const std::string& command, std::string* output) {
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> chunk;
  std::string text;
  while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) text.append(chunk.data(), n);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string makeFileSystem(const fs::path& tree, const fs::path& image, unsigned blockSize, unsigned fragmentSize) {
  std::string output;
  const std::string command = "makefs -t ffs -B le -o version=1,bsize=" + std::to_string(blockSize) +
                              ",fsize=" + std::to_string(fragmentSize) + " -b 25% -f 25% " + quote(image) + " " +
                              quote(tree);
  if (shell(command, &output) != 0) return "makefs: " + output;
  return "";
}

std::string makeDisk(const fs::path& fileSystem, const fs::path& disk, Layout layout, std::uint32_t start) {
  std::error_code ec;
  const std::uint64_t fsSectors = (fs::file_size(fileSystem, ec) + 511) / 512;
  if (ec) return "no file system " + fileSystem.string();
  fs::remove(disk, ec);
  std::string output;
  if (layout == Layout::Whole) {
    if (shell("cp " + quote(fileSystem) + " " + quote(disk), &output) != 0) return "cp: " + output;
    return "";
  }
  // Whole cylinders of 16 heads x 63 sectors, with room behind the file system.
  const std::uint64_t cylinders = (start + fsSectors + 64 + 16 * 63 - 1) / (16 * 63);
  const std::uint64_t total = cylinders * 16 * 63;
  if (shell("truncate -s " + std::to_string(total * 512) + " " + quote(disk), &output) != 0) return "truncate: " + output;
  const char* type = layout == Layout::CorvidLabel ? "a9" : layout == Layout::Alternate ? "a5" : "83";
  const std::string table = "label: dos\\nstart=" + std::to_string(start) + ", size=" + std::to_string(fsSectors) +
                            ", type=" + type + "\\n";
  if (shell("printf '" + table + "' | sfdisk -q " + quote(disk), &output) != 0) return "sfdisk: " + output;
  if (shell("dd if=" + quote(fileSystem) + " of=" + quote(disk) + " bs=1M oflag=seek_bytes seek=" +
                std::to_string(std::uint64_t{start} * 512) + " conv=notrunc status=none",
            &output) != 0)
    return "dd: " + output;
  if (layout == Layout::CorvidLabel) {
    // b: the nested disk label; y: create it; n a: partition a over the whole partition; w: write.
    shell("printf 'b\\ny\\nn\\na\\n\\n\\nw\\n' | fdisk -H 16 -S 63 -C " + std::to_string(cylinders) + " " + quote(disk),
          &output);
    std::string check;
    shell("printf 'b\\np\\nq\\n' | fdisk " + quote(disk), &check);
    if (check.find("\na ") == std::string::npos) return "fdisk wrote no partition a:\n" + output + check;
  }
  return "";
}

}  // namespace kestrel::ufs_test
