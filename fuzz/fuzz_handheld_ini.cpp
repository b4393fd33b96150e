// handheld.ini comes from the user's folder: any text must either be refused with a message
// naming the line, or give a configuration that writes back and reads again the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/handheld/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  handheld::Config config;
  std::string error;
  if (!handheld::parseConfig(text, "fuzz.ini", config, error)) {
    if (error.rfind("fuzz.ini:", 0) != 0) std::abort();  // every refusal says where
    return 0;
  }
  std::string written;
  if (!handheld::configText(config, "fuzz.ini", written, error)) return 0;
  handheld::Config again;
  if (!handheld::parseConfig(written, "again.ini", again, error)) std::abort();
  std::string rewritten;
  if (!handheld::configText(again, "again.ini", rewritten, error) || rewritten != written) std::abort();
  return 0;
}
